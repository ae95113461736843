// The save-data window over the recording driver: what it reads from the
// display node and hands to the file writer (records, ticked columns, sample
// rate, scale, comment, host, time), the questions it asks and the status
// line it leaves, including every way a save can fail. The file format
// itself is tst_displaycsv's.

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
    static void save(WindowSaveData& w) { QTest::mouseClick(buttonNamed(&w, "Save"), Qt::LeftButton); }
    static QString status(WindowSaveData& w) { return child<QLabel>(w, "statusLabel")->text(); }
    // A window saving `samples` to `name` (in the temporary folder when relative).
    QString prepare(WindowSaveData& w, const QString& name, int samples)
    {
        const QString path = QDir::isAbsolutePath(name) ? name : dir->filePath(name);
        child<QLineEdit>(w, "pathLineEdit")->setText(path);
        child<QSpinBox>(w, "nrSampBox")->setValue(samples);
        return path;
    }
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

    // The samples box and slider move together; at most the snapshot's share.
    void samplesBoxAndSlider_inStep()
    {
        WindowSaveData w;
        auto* box = child<QSpinBox>(w, "nrSampBox");
        auto* slider = child<QSlider>(w, "nrSampSlider");
        box->setValue(2500);
        QCOMPARE(slider->value(), 2500);
        slider->setValue(40);
        QCOMPARE(box->value(), 40);
        box->setValue(20000);
        QCOMPARE(box->value(), 10000);
        QCOMPARE(slider->value(), 10000);
    }

    // One read of the whole buffer from the display node (not the updater's
    // copy), records written from 0 with the positions scaled at the display
    // rate, the comment, host and time handed over, the selection kept.
    void save_writesSnapshotFromTheDisplayNode()
    {
        bpmScale.set(0, 2.0, 4.0);
        WindowSaveData w;
        const QString path = prepare(w, "run7.csv", 3);
        child<QPlainTextEdit>(w, "commentTextEdit")->setPlainText(QStringLiteral("run 7\nslit 2"));
        tick(w, {"checkBPMposX_2", "checkBPMposY_2", "checkBPMi0_2"}, false);
        tick(w, {"checkOstrelch2"}, true);
        SAMP_FREQ = 500;
        BoxCatcher answerer;
        save(w);

        QVERIFY(answerer.boxes.empty());
        QCOMPARE(kSavedAs.match(status(w)).captured(1), path);
        const QList<QByteArray> lines = fileText(path).split('\n');
        QCOMPARE(lines.size(), 9 + 1 + 3 + 1);
        QVERIFY(nearNow(QDateTime::fromString(QString::fromLatin1(lines[3].mid(15).chopped(1)),
                                              QStringLiteral("hh:mm:ss dd.MM.yyyy"))));
        QCOMPARE(lines[4], "Host Name: " + QHostInfo::localHostName().toLocal8Bit() + "\r");
        QCOMPARE(lines.mid(6, 7), (QList<QByteArray>{
                                      "Comment: run 7", "slit 2\r", "\r",
                                      "Nr, Rel. time, BPM1 Pos X, BPM1 Pos Y, BPM1 I0, Ostrel Ch2, \r",
                                      "0, 0, 0.5, 5, 2.25, 9.25, \r",
                                      "1, 0.002, 2000.5, 4005, 1002.25, 1009.25, \r",
                                      "2, 0.004, 4000.5, 8005, 2002.25, 2009.25, \r"}));

        // The display node opened read-only once, read whole, closed again.
        QStringList calls;
        for (const RecordingDriver::Call& c : program->driver.calls())
            if (c.kind == RecordingDriver::Call::Open && c.path == kDisplayNode)
                calls << QString("open %1").arg(c.flags == O_RDONLY);
            else if (c.kind == RecordingDriver::Call::Read)
                calls << QString("read %1").arg(c.count);
        QCOMPARE(calls, (QStringList{"open 1", QString("read %1").arg(kDisplayBufferBytes)}));
        QCOMPARE(program->driver.stillOpen(), 0);
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

    // Yes overwrites, No appends a second block, Cancel leaves the file and
    // the status line as they were.
    void existingFile_askedOverwriteAppendOrCancel()
    {
        WindowSaveData w;
        const QString path = prepare(w, "old.csv", 2);
        auto writeOld = [&] {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write("old\r\n");
        };
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
        QVERIFY(fileText(path).startsWith("old\r\nQuorvex ZEVO\r\n"));

        answerer.answer = QMessageBox::Yes;
        save(w);
        QVERIFY(fileText(path).startsWith("Quorvex ZEVO\r\n"));
        QCOMPARE(fileText(path).count("Quorvex ZEVO"), 1);

        writeOld();
        child<QLabel>(w, "statusLabel")->setText(QStringLiteral("before"));
        answerer.answer = QMessageBox::Cancel;
        save(w);
        QCOMPARE(fileText(path), QByteArray("old\r\n"));
        QCOMPARE(status(w), QStringLiteral("before"));
        QCOMPARE(answerer.boxes.size(), std::size_t(3));
    }

    // With an encoder interface the picoammeter boxes name the encoders and
    // the writer is told their columns hold counts.
    void encoderInterface_labelsAndCounts()
    {
        cleanup();
        dir = std::make_unique<QTemporaryDir>();
        startController(0x2301);
        std::vector<DisplayRecord> records = numberedRecords(10);
        records[0].value[disp::Pico1Ch1] = -12.7;
        program->driver.setDisplayRecords(records);

        WindowSaveData w;
        QCOMPARE(child<QCheckBox>(w, "checkDorvishch1")->text(), QStringLiteral("Encoder 1"));
        QCOMPARE(child<QCheckBox>(w, "checkDorvishch4_2")->text(),
                 QStringLiteral("Pavun 2 Encoder 2 (inv)"));
        QCOMPARE(child<QCheckBox>(w, "checkOstrelch1")->text(), QStringLiteral("Ostrel Ch1"));
        const QString path = prepare(w, "enc.csv", 2);
        tick(w, {"checkDorvishch1", "checkDorvishch4_2"}, true);
        tick(w, {"checkBPMposY", "checkBPMi0", "checkBPMposX_2", "checkBPMposY_2", "checkBPMi0_2"},
             false);
        BoxCatcher answerer;
        save(w);
        QVERIFY(fileText(path).endsWith("Nr, Rel. time, Encoder 1, Encoder 8, BPM1 Pos X, \r\n"
                                        "0, 0, -12, 31, 0.25, \r\n"
                                        "1, 0.001, 1024, 1031, 1000.25, \r\n"));
    }

    // Every way a save fails is reported in a box of its own, and the status
    // line never claims the file was saved: no display data (missing node, a
    // short read that would leave records without data) writes no file and
    // closes what it opened; a file that cannot be opened or a full disk.
    void failure_reportedNeverSavedAs_data()
    {
        QTest::addColumn<QString>("path"); // "plain/..." lies inside a plain file
        QTest::addColumn<bool>("nodePresent");
        QTest::addColumn<int>("recordsHeld");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("said");
        const int all = kDisplayBufferRecords;
        QTest::newRow("node missing") << "none.csv" << false << all << "Cannot read display data"
                                      << QString(kDisplayNode) + " could not be opened";
        QTest::newRow("short read") << "none.csv" << true << 999 << "Cannot read display data"
                                    << "delivered 999 samples, 1000 were asked for";
        QTest::newRow("file not opened") << "plain/data.csv" << true << all << "Cannot write file"
                                         << "plain/data.csv";
        QTest::newRow("disk full") << "/dev/full" << true << all << "Cannot write file" << "/dev/full";
    }
    void failure_reportedNeverSavedAs()
    {
        QFETCH(QString, path);
        QFETCH(bool, nodePresent);
        QFETCH(int, recordsHeld);
        QFETCH(QString, title);
        QFETCH(QString, said);
        QFile plain(dir->filePath(QStringLiteral("plain")));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        program->driver.setNodePresent(kDisplayNode, nodePresent);
        program->driver.setDisplayRecords(numberedRecords(recordsHeld));
        WindowSaveData w;
        prepare(w, path, 1000);
        BoxCatcher answerer;
        answerer.answer = QMessageBox::Yes; // /dev/full exists: overwrite it
        save(w);

        QVERIFY(!answerer.boxes.empty());
        const auto& report = answerer.boxes.back();
        QCOMPARE(QStringList({report.title, QString::number(report.icon)}),
                 QStringList({title, QString::number(QMessageBox::Critical)}));
        QVERIFY2(report.text.contains(said), qPrintable(report.text));
        QVERIFY(!report.hasParent);
        QVERIFY(answerer.dialogs.empty());
        QVERIFY(path.startsWith('/') || !QFileInfo::exists(dir->filePath(path)));
        QVERIFY2(kNotSaved.match(status(w)).hasMatch(), qPrintable(status(w)));
        QCOMPARE(program->driver.stillOpen(), 0);
    }

    // An empty path asks for the file, proposing a dated name; cancelling
    // writes nothing and says so on the status line only.
    void emptyPath_asksForTheFile()
    {
        WindowSaveData w;
        child<QSpinBox>(w, "nrSampBox")->setValue(5);
        BoxCatcher answerer;
        save(w);
        QCOMPARE(answerer.dialogs.size(), std::size_t(1));
        const auto& dialog = answerer.dialogs[0];
        QCOMPARE(dialog.filters, (QStringList{"CSV files (*.csv)", "NeXus files (*.nxs)"}));
        QVERIFY2(dialog.proposedName.startsWith(QStringLiteral("ZEVO_meas_")) &&
                     dialog.proposedName.endsWith(QStringLiteral(".csv")) &&
                     nearNow(QDateTime::fromString(dialog.proposedName.mid(10, 19),
                                                   QStringLiteral("yyyy-MM-dd_hh-mm-ss"))),
                 qPrintable(dialog.proposedName));
        QVERIFY(answerer.boxes.empty());
        QVERIFY(child<QLineEdit>(w, "pathLineEdit")->text().isEmpty());
        QVERIFY2(status(w).endsWith(QStringLiteral(": Not saved: no file chosen")),
                 qPrintable(status(w)));

        answerer.file = dir->filePath(QStringLiteral("chosen.csv"));
        save(w);
        QCOMPARE(child<QLineEdit>(w, "pathLineEdit")->text(), answerer.file);
        QCOMPARE(kSavedAs.match(status(w)).captured(1), answerer.file);
        QVERIFY(fileText(answerer.file).endsWith("\r\n4, 0.004, 4000.25, 4001.25, 4002.25, "
                                                 "4004.25, 4005.25, 4006.25, \r\n"));
    }

    // Return after typing the path saves to that path: it does not open the
    // file dialog, whose Cancel would wipe the typed path. Close writes nothing.
    void returnInPathField_saves_closeNeverWrites()
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
        QCOMPARE(kSavedAs.match(status(w)).captured(1), path);
        QVERIFY(w.isVisible());

        program->driver.clearCalls();
        edit->setText(dir->filePath(QStringLiteral("never.csv")));
        QTest::mouseClick(buttonNamed(&w, "Close"), Qt::LeftButton);
        QVERIFY(!w.isVisible());
        QVERIFY(!QFileInfo::exists(edit->text()));
        QCOMPARE(program->driver.countCalls(RecordingDriver::Call::Read), 0);
    }
};

QTEST_MAIN(TestWindowSaveData)
#include "tst_windowsavedata.moc"
