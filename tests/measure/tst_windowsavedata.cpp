// The save-data window over the recording driver: what it reads from the
// display node and hands to the file writer (records, ticked columns, sample
// rate, scale, comment, host, encoder counts), the questions it asks and the
// status line it leaves, including every way a save can fail. The file
// format itself is tst_exportfiles's.

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
#include <QSpinBox>

#include <fcntl.h>

#include <memory>

using namespace zevo;

namespace
{
const QRegularExpression kSavedAs(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d: Saved as: (.*)$"));
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
        if (program)
            program->tearDown();
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

    // One read of the whole buffer from the display node (not the updater's
    // copy), records written from 0 with the positions scaled at the display
    // rate, the comment and host handed over, the selection kept. Saved
    // again over an existing file: Yes overwrites, Cancel leaves the file and
    // the status line as they were (No appends: tst_nexuswindows). An empty
    // path asks for the file, proposing a dated name; cancelling writes
    // nothing and says so on the status line only. Return after typing the
    // path saves to that path: it does not open the file dialog, whose Cancel
    // would wipe the typed path. Close writes nothing.
    void save_snapshotExistingFileAndPath()
    {
        bpmScale.set(0, 2.0, 4.0);
        WindowSaveData w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
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
        QCOMPARE(lines[4], "Host Name: " + QHostInfo::localHostName().toLocal8Bit() + "\r");
        QCOMPARE(lines.mid(6, 7),
                 (QList<QByteArray>{
                     "Comment: run 7", "slit 2\r", "\r",
                     "Nr, Rel. time, BPM1 Pos X, BPM1 Pos Y, BPM1 I0, Ostrel Ch2, \r",
                     "0, 0, 0.5, 5, 2.25, 9.25, \r", "1, 0.002, 2000.5, 4005, 1002.25, 1009.25, \r",
                     "2, 0.004, 4000.5, 8005, 2002.25, 2009.25, \r"}));

        // The display node opened read-only once, read whole, closed again.
        using Call = RecordingDriver::Call;
        const std::vector<Call> calls = program->driver.calls();
        QCOMPARE(int(calls.size()), 3);
        QCOMPARE(std::make_tuple(calls[0].path, calls[0].flags, calls[1].kind, calls[1].count,
                                 calls[2].kind),
                 std::make_tuple(std::string(kDisplayNode), O_RDONLY, Call::Read,
                                 kDisplayBufferBytes, Call::Close));

        displaycsv::Selection expected{};
        expected[displaycsv::Bpm1PosX] = expected[displaycsv::Bpm1PosY] =
            expected[displaycsv::Bpm1I0] = expected[displaycsv::Dac2] = true;
        QCOMPARE(w.selection(), expected);
        if (screenshotsWanted())
            QVERIFY(saveScreenshot(w, QStringLiteral("save-data.png")));

        const auto writeOld = [&] {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write("old\r\n");
        };
        writeOld();
        answerer.answer = QMessageBox::Yes;
        save(w);
        QVERIFY(fileText(path).startsWith("Quorvex ZEVO\r\n"));
        QCOMPARE(fileText(path).count("Quorvex ZEVO"), 1);
        writeOld();
        child<QLabel>(w, "statusLabel")->setText(QStringLiteral("before"));
        answerer.answer = QMessageBox::Cancel;
        save(w);
        QCOMPARE(std::make_pair(fileText(path), status(w)),
                 std::make_pair(QByteArray("old\r\n"), QStringLiteral("before")));
        QCOMPARE(answerer.boxes.size(), std::size_t(2));
        QVERIFY(!answerer.boxes[0].hasParent);

        auto* edit = child<QLineEdit>(w, "pathLineEdit");
        edit->clear();
        save(w);
        QCOMPARE(answerer.dialogs.size(), std::size_t(1));
        const QString proposed = answerer.dialogs[0].proposedName;
        QVERIFY2(QRegularExpression("^ZEVO_meas_\\d{4}(-\\d\\d){2}_\\d\\d(-\\d\\d){2}\\.csv$")
                     .match(proposed)
                     .hasMatch(),
                 qPrintable(proposed));
        QVERIFY(answerer.boxes.size() == 2 && edit->text().isEmpty());
        QVERIFY2(status(w).endsWith(QStringLiteral(": Not saved: no file chosen")),
                 qPrintable(status(w)));

        const QString typed = dir->filePath(QStringLiteral("typed.csv"));
        edit->setFocus();
        QTest::keyClicks(edit, typed);
        QTest::keyClick(edit, Qt::Key_Return);
        QCOMPARE(answerer.dialogs.size(), std::size_t(1));
        QCOMPARE(kSavedAs.match(status(w)).captured(1), typed);

        program->driver.clearCalls();
        edit->setText(dir->filePath(QStringLiteral("never.csv")));
        QTest::mouseClick(buttonNamed(&w, "Close"), Qt::LeftButton);
        QVERIFY(!w.isVisible() && !QFileInfo::exists(edit->text()));
        QCOMPARE(program->driver.countCalls(RecordingDriver::Call::Read), 0);
    }

    // With an encoder interface the writer is told the picoammeter columns
    // hold counts.
    void encoderInterface_countsHandedToTheWriter()
    {
        startController(0x2301);
        std::vector<DisplayRecord> records = numberedRecords(10);
        records[0].value[disp::Pico1Ch1] = -12.7;
        program->driver.setDisplayRecords(records);
        WindowSaveData w;
        const QString path = prepare(w, "enc.csv", 2);
        tick(w, {"checkDorvishch1"}, true);
        tick(w, {"checkBPMposY", "checkBPMi0", "checkBPMposX_2", "checkBPMposY_2", "checkBPMi0_2"},
             false);
        save(w);
        QVERIFY(fileText(path).endsWith("Nr, Rel. time, Encoder 1, BPM1 Pos X, \r\n"
                                        "0, 0, -12, 0.25, \r\n1, 0.001, 1024, 1000.25, \r\n"));
    }

    // Every way a save fails is reported in a box of its own, and the status
    // line never claims the file was saved: no display data (missing node, a
    // short read that would leave records without data) writes no file and
    // closes what it opened; so does a file that cannot be written.
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
        QTest::newRow("file not written") << "plain/data.csv" << true << all << "Cannot write file"
                                          << "plain/data.csv";
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
        save(w);

        QCOMPARE(int(answerer.boxes.size()), 1);
        QCOMPARE(answerer.boxes[0].title, title);
        QVERIFY2(answerer.boxes[0].text.contains(said), qPrintable(answerer.boxes[0].text));
        QVERIFY(!answerer.boxes[0].hasParent && answerer.dialogs.empty());
        QVERIFY(!QFileInfo::exists(dir->filePath(path)));
        QVERIFY2(status(w).contains(QStringLiteral(": Not saved: ")), qPrintable(status(w)));
        QCOMPARE(program->driver.stillOpen(), 0);
    }
};

QTEST_MAIN(TestWindowSaveData)
#include "tst_windowsavedata.moc"
