// The save-data window over the recording driver: what it reads from the
// display node, what reaches the file, the questions it asks and the status
// line it leaves, including every way a save can fail.

#include "support/bytes.h"
#include "support/displayrecords.h"
#include "support/programfixture.h"
#include "support/screenshot.h"
#include "support/widgets.h"

#include "app/initresources.h"
#include "measure/windowsavedata.h"

#include <QCheckBox>
#include <QHostInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSlider>
#include <QSpinBox>

#include <fcntl.h>

#include <memory>

using namespace zevo;

namespace
{
const QRegularExpression kSavedAs(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d: Saved as: (.*)$"));
const QRegularExpression kNotSaved(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d: Not saved: "));

bool nearNow(const QDateTime& t)
{
    return t.isValid() && std::abs(t.secsTo(QDateTime::currentDateTime())) <= 5;
}

} // namespace

class TestWindowSaveData : public QObject
{
    Q_OBJECT

    std::unique_ptr<ProgramFixture> program;
    std::unique_ptr<QTemporaryDir> dir;

    static void tick(WindowSaveData& w, std::initializer_list<const char*> names, bool on)
    {
        for (const char* name : names)
            child<QCheckBox>(w, name)->setChecked(on);
    }

    static void save(WindowSaveData& w)
    {
        QTest::mouseClick(buttonNamed(&w, "Save"), Qt::LeftButton);
    }

    static QString status(WindowSaveData& w) { return child<QLabel>(w, "statusLabel")->text(); }

    void startController(uint16_t slotA)
    {
        program = std::make_unique<ProgramFixture>();
        program->controller.slotContents[0].deviceId = slotA;
        program->setUp();
        program->driver.setDisplayRecords(numberedRecords(kDisplayBufferRecords));
    }

private slots:
    void initTestCase() { initResources(); }

    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        startController(0x2101);
    }

    void cleanup()
    {
        bpmScale = BpmScaleFactors{};
        program->tearDown();
        program.reset();
        dir.reset();
    }

    void window_startsWithDefaults_samplesBoxAndSliderInStep()
    {
        WindowSaveData w;
        QCOMPARE(w.windowTitle(), QStringLiteral("Save data"));
        QCOMPARE(status(w), QStringLiteral("status"));
        QCOMPARE(child<QDialogButtonBox>(w, "buttonBox")->buttonRole(buttonNamed(&w, "Save")),
                 QDialogButtonBox::ApplyRole);
        QVERIFY(buttonNamed(&w, "Close"));

        const std::pair<const char*, const char*> off[] = {
            {"checkDorvishch1", "Dorvish Ch1"},    {"checkDorvishch2", "Dorvish Ch2"},
            {"checkDorvishch3", "Dorvish Ch3"},    {"checkDorvishch4", "Dorvish Ch4"},
            {"checkDorvishch1_2", "Dorvish2 Ch1"}, {"checkDorvishch2_2", "Dorvish2 Ch2"},
            {"checkDorvishch3_2", "Dorvish2 Ch3"}, {"checkDorvishch4_2", "Dorvish2 Ch4"},
            {"checkOstrelch1", "Ostrel Ch1"},      {"checkOstrelch2", "Ostrel Ch2"},
            {"checkOstrelch3", "Ostrel Ch3"}};
        for (const auto& [name, label] : off) {
            QCOMPARE(child<QCheckBox>(w, name)->text(), QString::fromLatin1(label));
            QVERIFY2(!child<QCheckBox>(w, name)->isChecked(), name);
        }
        for (const char* name : {"checkBPMposX", "checkBPMposY", "checkBPMi0", "checkBPMposX_2",
                                 "checkBPMposY_2", "checkBPMi0_2"})
            QVERIFY2(child<QCheckBox>(w, name)->isChecked(), name);

        auto* box = child<QSpinBox>(w, "nrSampBox");
        auto* slider = child<QSlider>(w, "nrSampSlider");
        QCOMPARE(box->value(), 1000);
        QCOMPARE(slider->value(), 1000);
        QCOMPARE(slider->singleStep(), 10);
        box->setValue(2500);
        QCOMPARE(slider->value(), 2500);
        slider->setValue(40);
        QCOMPARE(box->value(), 40);
        box->setValue(20000); // beyond the snapshot's share: 10000 at most
        QCOMPARE(box->value(), 10000);
        QCOMPARE(slider->value(), 10000);
        slider->setValue(0);
        QCOMPARE(box->value(), 0);
    }

    // One read of the whole buffer from the display node (not the updater's
    // copy), records written from 0 with the positions scaled, the comment
    // as typed, the selection kept for the next save.
    void save_writesSnapshotFromTheDisplayNode()
    {
        bpmScale.set(0, 2.0, 4.0);
        const QString path = dir->filePath(QStringLiteral("run7.csv"));
        WindowSaveData w;
        child<QLineEdit>(w, "pathLineEdit")->setText(path);
        child<QPlainTextEdit>(w, "commentTextEdit")->setPlainText(QStringLiteral("run 7\nslit 2"));
        tick(w, {"checkBPMposX_2", "checkBPMposY_2", "checkBPMi0_2"}, false);
        tick(w, {"checkOstrelch2"}, true);
        child<QSpinBox>(w, "nrSampBox")->setValue(3);
        SAMP_FREQ = 500;
        BoxCatcher answerer;
        save(w);

        QVERIFY(answerer.boxes.empty());
        const auto match = kSavedAs.match(status(w));
        QVERIFY2(match.hasMatch(), qPrintable(status(w)));
        QCOMPARE(match.captured(1), path);

        const QList<QByteArray> lines = fileText(path).split('\n');
        // Eight header lines and one more for the comment's break, the column
        // header, three samples, and nothing after the last CR LF.
        QCOMPARE(lines.size(), 9 + 1 + 3 + 1);
        QCOMPARE(lines[0], QByteArray("Quorvex ZEVO\r"));
        QCOMPARE(lines[1], QByteArray("ZEVO\r"));
        QVERIFY(lines[3].startsWith("Time and Date: "));
        QVERIFY(nearNow(QDateTime::fromString(QString::fromLatin1(lines[3].mid(15).chopped(1)),
                                              QStringLiteral("hh:mm:ss dd.MM.yyyy"))));
        QCOMPARE(lines[4], "Host Name: " + QHostInfo::localHostName().toLocal8Bit() + "\r");
        QCOMPARE(lines[6], QByteArray("Comment: run 7"));
        QCOMPARE(lines[7], QByteArray("slit 2\r"));
        QCOMPARE(lines[9],
                 QByteArray("Nr, Rel. time, BPM1 Pos X, BPM1 Pos Y, BPM1 I0, Ostrel Ch2, \r"));
        QCOMPARE(lines[10], QByteArray("0, 0, 0.5, 5, 2.25, 9.25, \r"));
        QCOMPARE(lines[11], QByteArray("1, 0.002, 2000.5, 4005, 1002.25, 1009.25, \r"));
        QCOMPARE(lines[12], QByteArray("2, 0.004, 4000.5, 8005, 2002.25, 2009.25, \r"));

        int displayOpens = 0;
        int displayFd = -1;
        for (const RecordingDriver::Call& c : program->driver.calls()) {
            if (c.kind == RecordingDriver::Call::Open && c.path == kDisplayNode) {
                ++displayOpens;
                QCOMPARE(c.flags, O_RDONLY);
            }
            if (c.kind == RecordingDriver::Call::Read) {
                QCOMPARE(c.count, kDisplayBufferBytes);
                displayFd = c.fd;
            }
            if (c.kind == RecordingDriver::Call::Close && c.fd == displayFd)
                displayFd = -2; // closed after the read
        }
        QCOMPARE(displayOpens, 1);
        QCOMPARE(displayFd, -2);
        QCOMPARE(program->driver.countCalls(RecordingDriver::Call::Read), 1);
        QCOMPARE(program->driver.countCalls(RecordingDriver::Call::GetBuffer), 0);

        displaycsv::Selection expected{};
        expected[displaycsv::Bpm1PosX] = expected[displaycsv::Bpm1PosY] =
            expected[displaycsv::Bpm1I0] = expected[displaycsv::Dac2] = true;
        QCOMPARE(w.selection(), expected);

        if (screenshotsWanted()) {
            w.show();
            QCoreApplication::processEvents(); // lays the window out
            QVERIFY(saveScreenshot(w, QStringLiteral("save-data.png")));
        }
    }

    // Yes overwrites, No appends a second full block numbered from 0, Cancel
    // leaves the file and the status line as they were.
    void existingFile_askedOverwriteAppendOrCancel()
    {
        const QString path = dir->filePath(QStringLiteral("old.csv"));
        auto writeOld = [&] {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write("old\r\n");
        };
        WindowSaveData w;
        child<QLineEdit>(w, "pathLineEdit")->setText(path);
        child<QSpinBox>(w, "nrSampBox")->setValue(2);
        BoxCatcher answerer;

        writeOld();
        answerer.answer = QMessageBox::No;
        save(w);
        QCOMPARE(answerer.boxes.size(), std::size_t(1));
        QCOMPARE(answerer.boxes[0].title, QStringLiteral("File exists"));
        QCOMPARE(answerer.boxes[0].text,
                 "File: " + path +
                     " already exist.\n\nOverwrite file?\n\nYes - overwrite file\n"
                     "No - append to existing file\nCancel - cancel writing to file");
        QCOMPARE(answerer.boxes[0].icon, QMessageBox::Warning);
        QVERIFY(!answerer.boxes[0].hasParent);
        QByteArray appended = fileText(path);
        QVERIFY(appended.startsWith("old\r\nQuorvex ZEVO\r\n"));
        QVERIFY(appended.endsWith(
            "\r\n0, 0, 0.25, 1.25, 2.25, 4.25, 5.25, 6.25, \r\n"
            "1, 0.001, 1000.25, 1001.25, 1002.25, 1004.25, 1005.25, 1006.25, \r\n"));

        answerer.answer = QMessageBox::Yes;
        save(w);
        const QByteArray overwritten = fileText(path);
        QVERIFY(overwritten.startsWith("Quorvex ZEVO\r\n"));
        QCOMPARE(overwritten.count("Quorvex ZEVO"), 1);

        writeOld();
        child<QLabel>(w, "statusLabel")->setText(QStringLiteral("before"));
        answerer.answer = QMessageBox::Cancel;
        save(w);
        QCOMPARE(fileText(path), QByteArray("old\r\n"));
        QCOMPARE(status(w), QStringLiteral("before"));
        QCOMPARE(answerer.boxes.size(), std::size_t(3));
    }

    // With an encoder interface the picoammeter boxes name the encoders and
    // their columns hold counts truncated toward zero.
    void encoderInterface_labelsAndIntegerCounts()
    {
        cleanup();
        dir = std::make_unique<QTemporaryDir>();
        startController(0x2301);
        QVERIFY(theMailbox->pavunPresent());
        std::vector<DisplayRecord> records = numberedRecords(10);
        records[0].value[disp::Pico1Ch1] = -12.7;
        records[0].value[disp::Pico2Ch1 + 3] = 1610612736.0;
        program->driver.setDisplayRecords(records);

        WindowSaveData w;
        const char* boxes[] = {"checkDorvishch1",   "checkDorvishch2",   "checkDorvishch3",
                               "checkDorvishch4",   "checkDorvishch1_2", "checkDorvishch2_2",
                               "checkDorvishch3_2", "checkDorvishch4_2"};
        QStringList labels;
        for (const char* name : boxes)
            labels << child<QCheckBox>(w, name)->text();
        QCOMPARE(labels, QStringList({"Encoder 1", "Encoder 2", "Encoder 1 (inv)",
                                      "Encoder 2 (inv)", "Pavun 2 Encoder 1", "Pavun 2 Encoder 2",
                                      "Pavun 2 Encoder 1 (inv)", "Pavun 2 Encoder 2 (inv)"}));
        QCOMPARE(child<QCheckBox>(w, "checkOstrelch1")->text(), QStringLiteral("Ostrel Ch1"));

        const QString path = dir->filePath(QStringLiteral("enc.csv"));
        child<QLineEdit>(w, "pathLineEdit")->setText(path);
        tick(w, {"checkDorvishch1", "checkDorvishch4_2"}, true);
        tick(w, {"checkBPMposY", "checkBPMi0", "checkBPMposX_2", "checkBPMposY_2", "checkBPMi0_2"},
             false);
        child<QSpinBox>(w, "nrSampBox")->setValue(2);
        BoxCatcher answerer;
        save(w);
        QVERIFY2(kSavedAs.match(status(w)).hasMatch(), qPrintable(status(w)));
        QVERIFY(fileText(path).endsWith("Nr, Rel. time, Encoder 1, Encoder 8, BPM1 Pos X, \r\n"
                                        "0, 0, -12, 1610612736, 0.25, \r\n"
                                        "1, 0.001, 1024, 1031, 1000.25, \r\n"));
    }

    // No display data, no file, and never "Saved as".
    void displayNodeFailure_reportedAndNothingWritten_data()
    {
        QTest::addColumn<bool>("nodePresent");
        QTest::addColumn<int>("recordsHeld");
        QTest::addColumn<QString>("expected");
        QTest::newRow("node missing") << false << kDisplayBufferRecords << "could not be opened";
        // The driver delivers fewer records than samples asked for: the rest of
        // the block holds no data and must not reach the file.
        QTest::newRow("short read") << true << 999 << "delivered 999 samples, 1000 were asked for";
    }
    void displayNodeFailure_reportedAndNothingWritten()
    {
        QFETCH(bool, nodePresent);
        QFETCH(int, recordsHeld);
        QFETCH(QString, expected);
        program->driver.setNodePresent(kDisplayNode, nodePresent);
        program->driver.setDisplayRecords(numberedRecords(recordsHeld));
        const QString path = dir->filePath(QStringLiteral("none.csv"));
        WindowSaveData w;
        child<QLineEdit>(w, "pathLineEdit")->setText(path);
        BoxCatcher answerer;
        save(w);

        QCOMPARE(answerer.boxes.size(), std::size_t(1));
        QCOMPARE(answerer.boxes[0].icon, QMessageBox::Critical);
        QVERIFY2(answerer.boxes[0].text.contains(expected), qPrintable(answerer.boxes[0].text));
        QVERIFY(answerer.boxes[0].text.contains(kDisplayNode));
        QVERIFY(answerer.dialogs.empty());
        QVERIFY(!QFileInfo::exists(path));
        QVERIFY2(kNotSaved.match(status(w)).hasMatch(), qPrintable(status(w)));
        // Whatever opened was closed again.
        QCOMPARE(program->driver.stillOpen(), 0);
    }

    // A file that cannot be opened, or a disk that is full, is reported; the
    // status line never claims the file was saved.
    void failingFile_reportedNeverSavedAs()
    {
        QFile plain(dir->filePath(QStringLiteral("plain")));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        const QString paths[] = {plain.fileName() + QStringLiteral("/data.csv"),
                                 QStringLiteral("/dev/full")};
        WindowSaveData w;
        child<QSpinBox>(w, "nrSampBox")->setValue(10000);
        BoxCatcher answerer;
        answerer.answer = QMessageBox::Yes; // /dev/full exists: overwrite it
        for (const QString& path : paths) {
            answerer.boxes.clear();
            child<QLineEdit>(w, "pathLineEdit")->setText(path);
            save(w);
            QVERIFY(!answerer.boxes.empty());
            const auto& report = answerer.boxes.back();
            QCOMPARE(report.icon, QMessageBox::Critical);
            QCOMPARE(report.title, QStringLiteral("Cannot write file"));
            QVERIFY2(report.text.contains(path), qPrintable(report.text));
            QVERIFY(!report.hasParent);
            QVERIFY2(kNotSaved.match(status(w)).hasMatch(), qPrintable(status(w)));
            QVERIFY(!status(w).contains(QStringLiteral("Saved as")));
        }
    }

    // An empty path asks for the file, proposing a name with the date and
    // time; cancelling writes nothing and says so on the status line only.
    void emptyPath_asksForTheFile()
    {
        WindowSaveData w;
        child<QSpinBox>(w, "nrSampBox")->setValue(5);
        BoxCatcher answerer;
        save(w);

        QCOMPARE(answerer.dialogs.size(), std::size_t(1));
        const auto& dialog = answerer.dialogs[0];
        QCOMPARE(dialog.caption, QStringLiteral("Select filename..."));
        QCOMPARE(dialog.filters, (QStringList{QStringLiteral("CSV files (*.csv)"),
                                              QStringLiteral("NeXus files (*.nxs)")}));
        QVERIFY2(dialog.proposedName.startsWith(QStringLiteral("ZEVO_meas_")) &&
                     dialog.proposedName.endsWith(QStringLiteral(".csv")),
                 qPrintable(dialog.proposedName));
        QVERIFY2(nearNow(QDateTime::fromString(dialog.proposedName.mid(10, 19),
                                               QStringLiteral("yyyy-MM-dd_hh-mm-ss"))),
                 qPrintable(dialog.proposedName));
        QVERIFY(answerer.boxes.empty());
        QVERIFY(child<QLineEdit>(w, "pathLineEdit")->text().isEmpty());
        QVERIFY2(status(w).endsWith(QStringLiteral(": Not saved: no file chosen")),
                 qPrintable(status(w)));

        const QString path = dir->filePath(QStringLiteral("chosen.csv"));
        answerer.file = path;
        save(w);
        QCOMPARE(answerer.dialogs.size(), std::size_t(2));
        QCOMPARE(child<QLineEdit>(w, "pathLineEdit")->text(), path);
        QCOMPARE(kSavedAs.match(status(w)).captured(1), path);
        QVERIFY(fileText(path).endsWith("\r\n4, 0.004, 4000.25, 4001.25, 4002.25, 4004.25, "
                                        "4005.25, 4006.25, \r\n"));
    }

    // Return after typing the path saves to that path: it does not open the
    // file dialog, whose Cancel would wipe the typed path.
    void returnInPathField_saves()
    {
        const QString path = dir->filePath(QStringLiteral("typed.csv"));
        WindowSaveData w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto* edit = child<QLineEdit>(w, "pathLineEdit");
        edit->setFocus();
        QTest::keyClicks(edit, path);
        BoxCatcher answerer;
        QTest::keyClick(edit, Qt::Key_Return);
        QVERIFY(answerer.dialogs.empty());
        QCOMPARE(edit->text(), path);
        QCOMPARE(kSavedAs.match(status(w)).captured(1), path);
        QVERIFY(w.isVisible());
    }

    // Close neither reads nor writes anything.
    void close_neverWrites()
    {
        const QString path = dir->filePath(QStringLiteral("never.csv"));
        WindowSaveData w;
        w.show();
        child<QLineEdit>(w, "pathLineEdit")->setText(path);
        QTest::mouseClick(buttonNamed(&w, "Close"), Qt::LeftButton);
        QVERIFY(!w.isVisible());
        QVERIFY(!QFileInfo::exists(path));
        QCOMPARE(program->driver.countCalls(RecordingDriver::Call::Read), 0);
    }
};

QTEST_MAIN(TestWindowSaveData)
#include "tst_windowsavedata.moc"
