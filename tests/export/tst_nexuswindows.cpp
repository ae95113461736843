// The four windows choosing NeXus: the file dialogs offer it (after the
// designed CSV filter where there is one), a ".nxs" name writes a NeXus file
// holding what the window measured, and "Save…" of the rocking curve and the
// step response waits for a result and reports a file it cannot write.

#include "export/nexusfile.h"
#include "measure/windowrocking3d.h"
#include "measure/windowrockingcurve.h"
#include "measure/windowsavedata.h"
#include "measure/windowstepresponse.h"
#include "nexusreader.h"
#include "sim/firstrunconfig.h"
#include "sim/manualclock.h"
#include "sim/simdriver.h"
#include "support/programfixture.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QtTest>

#include <qcustomplot.h>

#include <cmath>
#include <memory>

namespace
{
const QString kCsvFilter = "CSV files (*.csv)"_q;

template <typename T> T* child(QWidget* w, const char* name)
{
    T* found = w->findChild<T*>(QString::fromLatin1(name));
    if (!found)
        qFatal("no widget %s", name);
    return found;
}

// Answers the file dialog and the message boxes a save opens, and notes
// what they showed.
struct Answerer {
    QString caption, proposed;
    QStringList filters;
    QString filter; // chosen as the operator would; empty: the first one
    QString file;   // typed or chosen
    QMessageBox::StandardButton button = QMessageBox::Ok;
    QStringList boxes;
    QTimer timer;

    Answerer()
    {
        QObject::connect(&timer, &QTimer::timeout, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                boxes << box->text();
                box->done(button);
            } else if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
                caption = dialog->windowTitle();
                filters = dialog->nameFilters();
                proposed = QFileInfo(dialog->selectedFiles().value(0)).fileName();
                if (!filter.isEmpty()) {
                    dialog->selectNameFilter(filter);
                    emit dialog->filterSelected(filter); // as the filter box does
                }
                dialog->selectFile(file);
                QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
            }
        });
        timer.start(5);
    }
};

// The virtual beamline under the program's own mailbox communicator and
// configuration, as the simulator starts it.
struct Rig {
    ManualClock clock;
    SimDriver driver;
    QTemporaryDir dir;
    std::unique_ptr<MailboxComm> mailbox;
    std::unique_ptr<ConfigStore> config;

    Rig() : driver(Scenario(), &clock)
    {
        driver.prefill(1.0);
        mailbox = std::make_unique<MailboxComm>(driver);
        mailbox->doSetupOnNewThread();
        for (QTimer* poll : mailbox->findChildren<QTimer*>())
            poll->stop();
        const QString path = dir.filePath("config.ini"_q);
        writeFirstRunConfiguration(path, driver.scenario());
        config = std::make_unique<ConfigStore>(path);
        theDriver = &driver;
        theMailbox = mailbox.get();
        theConfig = config.get();
        SAMP_FREQ = int(mailbox->readDisplayFrequency());
    }
    ~Rig()
    {
        theDriver = nullptr;
        theMailbox = nullptr;
        theConfig = nullptr;
        SAMP_FREQ = 1000;
    }
};

std::vector<double> keys(const QCPGraph* graph)
{
    std::vector<double> out;
    for (auto it = graph->data()->constBegin(); it != graph->data()->constEnd(); ++it)
        out.push_back(it->key);
    return out;
}
std::vector<double> values(const QCPGraph* graph)
{
    std::vector<double> out;
    for (auto it = graph->data()->constBegin(); it != graph->data()->constEnd(); ++it)
        out.push_back(it->value);
    return out;
}
} // namespace

class TestNexusWindows : public QObject
{
    Q_OBJECT

private slots:
    // Data saving: the dialog keeps its caption, name and first filter and
    // adds NeXus; choosing NeXus and typing a bare name saves "run.nxs" as
    // a NeXus file of the ticked columns; saving to it again and answering
    // "No" appends entry2.
    void saveData_nexusChoiceWritesAndAppends()
    {
        ProgramFixture program;
        program.setUp();
        theDriver = &program.driver;
        std::vector<zevo::DisplayRecord> records(std::size_t(zevo::kDisplayBufferRecords));
        for (std::size_t i = 0; i < records.size(); ++i)
            records[i].value[0] = 0.5 * double(i);
        program.driver.setDisplayRecords(records);
        QTemporaryDir dir;
        {
            WindowSaveData w;
            w.show();
            Answerer answer;
            answer.filter = NexusFile::kFileFilter;
            answer.file = dir.filePath("run"_q);
            answer.button = QMessageBox::No;
            QTest::mouseClick(child<QPushButton>(&w, "selectPathButton"), Qt::LeftButton);
            QCOMPARE(answer.caption, "Select filename..."_q);
            QCOMPARE(answer.filters, (QStringList{kCsvFilter, NexusFile::kFileFilter}));
            QVERIFY2(answer.proposed.startsWith("ZEVO_meas_"_q) &&
                         answer.proposed.endsWith(".csv"_q),
                     qPrintable(answer.proposed));
            const QString path = child<QLineEdit>(&w, "pathLineEdit")->text();
            QCOMPARE(path, dir.filePath("run.nxs"_q));

            QPushButton* save = nullptr;
            for (QAbstractButton* b : child<QDialogButtonBox>(&w, "buttonBox")->buttons())
                if (b->text() == "Save"_q)
                    save = qobject_cast<QPushButton*>(b);
            QTest::mouseClick(save, Qt::LeftButton);
            QVERIFY2(child<QLabel>(&w, "statusLabel")->text().endsWith(": Saved as: " + path),
                     qPrintable(child<QLabel>(&w, "statusLabel")->text()));
            QVERIFY(answer.boxes.isEmpty());
            QTest::mouseClick(save, Qt::LeftButton);
            QCOMPARE(answer.boxes.size(), 1);
            QVERIFY(answer.boxes[0].contains("No - append to existing file"_q));
        }
        NexusReader r(dir.filePath("run.nxs"_q));
        QCOMPARE(r.children("/"_q), (QStringList{"entry"_q, "entry2"_q}));
        const std::vector<double> x = r.values("/entry2/data/bpm1_pos_x"_q);
        QCOMPARE(x.size(), std::size_t(1000));
        QCOMPARE(x[999], 499.5);
        QCOMPARE(r.text("/entry/data"_q, "signal"_q), "bpm1_pos_x"_q);
        theDriver = nullptr;
        program.tearDown();
    }

    // 3D rocking curve: after a scan, Save Data offers NeXus second and a
    // ".nxs" name gets the raw grid over the scan's voltages.
    void rocking3d_nexusChoiceWritesTheGrid()
    {
        ProgramFixture program;
        program.setUp();
        theDriver = &program.driver;
        const double c[4] = {1e-6, 2e-6, 3e-6, 4e-6};
        program.driver.setPicoCurrentsReply(QByteArray(reinterpret_cast<const char*>(c), 32));
        QTemporaryDir dir;
        const QString path = dir.filePath("grid.nxs"_q);
        std::vector<double> raw;
        {
            WindowRocking3D w;
            w.setSleeper([](unsigned long) {});
            child<QDoubleSpinBox>(&w, "xMinBox")->setValue(3.0);
            w.startMeasurement();
            for (float v : w.rawGrid())
                raw.push_back(double(v));

            Answerer answer;
            answer.file = path;
            QTest::mouseClick(child<QPushButton>(&w, "saveButton"), Qt::LeftButton);
            QCOMPARE(answer.caption, "DialogTitle"_q);
            QCOMPARE(answer.filters, (QStringList{kCsvFilter, NexusFile::kFileFilter}));
            QVERIFY(answer.boxes.isEmpty());
        }
        NexusReader r(path);
        QCOMPARE(r.shape("/entry/data/intensity"_q), (std::vector<hsize_t>{64, 64}));
        QCOMPARE(r.values("/entry/data/intensity"_q), raw);
        QVERIFY(std::fabs(raw[4095] - 1e-5) < 1e-11); // measured, not the zero grid
        QCOMPARE(r.values("/entry/data/v1"_q).front(), 3.0);
        QCOMPARE(r.values("/entry/data/v1"_q).back(), 6.0);
        QVERIFY(r.text("/entry/start_time"_q) <= r.text("/entry/end_time"_q));
        theDriver = nullptr;
        program.tearDown();
    }

    // Rocking curve: Save… waits for a scan's points; NeXus first in the
    // dialog; each format holds the plotted points; a file that cannot be
    // written is reported in a box and nothing is left.
    void rockingCurve_saveWritesTheScan_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("NeXus") << "curve.nxs";
        QTest::newRow("CSV") << "curve.csv";
    }
    void rockingCurve_saveWritesTheScan()
    {
        QFETCH(QString, name);
        Rig rig;
        WindowRockingCurve w;
        w.setWaitFunction([&rig](unsigned long us) { rig.clock.advanceNs(int64_t(us) * 1000); });
        auto* save = child<QPushButton>(&w, "saveResultButton");
        QCOMPARE(save->text(), "Save\u2026"_q);
        QVERIFY(!save->isEnabled());
        child<QSpinBox>(&w, "boxN")->setValue(25);
        QTest::mouseClick(child<QPushButton>(&w, "buttonStart"), Qt::LeftButton);
        QVERIFY(save->isEnabled());

        QTemporaryDir dir;
        const QString path = dir.filePath(name);
        Answerer answer;
        answer.filter = name.endsWith(".csv"_q) ? kCsvFilter : QString();
        answer.file = path;
        QTest::mouseClick(save, Qt::LeftButton);
        QCOMPARE(answer.filters, (QStringList{NexusFile::kFileFilter, kCsvFilter}));
        QVERIFY2(answer.proposed.startsWith("ZEVO_rock_"_q) && answer.proposed.endsWith(".nxs"_q),
                 qPrintable(answer.proposed));
        QVERIFY(answer.boxes.isEmpty());

        const QCPGraph* sum = child<QCustomPlot>(&w, "graph")->graph(2);
        QCOMPARE(keys(sum).size(), std::size_t(25));
        if (NexusFile::isNexusPath(path)) {
            NexusReader r(path);
            QCOMPARE(r.values("/entry/data/voltage"_q), keys(sum));
            QCOMPARE(r.values("/entry/data/sum"_q), values(sum));
            QCOMPARE(r.text("/entry/data/left"_q, "long_name"_q),
                     child<QCustomPlot>(&w, "graph")->graph(0)->name());
        } else {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QList<QByteArray> lines = file.readAll().split('\n');
            QCOMPARE(lines.size(), 9 + 25 + 1);
            QCOMPARE(lines[9].split(',').value(0), displaycsv::formatDouble(keys(sum)[0]));
            QCOMPARE(lines[33].split(',').value(3).trimmed(),
                     displaycsv::formatDouble(values(sum)[24]));
        }

        answer.button = QMessageBox::Ok;
        QVERIFY(!w.writeResultFile(dir.filePath("missing/"_q + name)));
        QTRY_COMPARE(answer.boxes.size(), 1);
        QVERIFY2(answer.boxes[0].contains("missing"_q), qPrintable(answer.boxes[0]));
        QVERIFY(!QFileInfo::exists(dir.filePath("missing"_q)));
    }

    // Step response: Save… waits for a run; a ".nxs" name gets the run's
    // samples, the loop's stored PID parameters and the figures shown.
    void stepResponse_nexusChoiceWritesTheRun()
    {
        Rig rig;
        rig.config->setPidX(500, 0.25, 0.05, 0.0, 0, 100, -10, 10, 2, 5.0);
        WindowStepResponse w;
        w.setWaitFunction([&rig](int ms) { rig.clock.advanceMs(ms); });
        w.showWindow();
        auto* save = child<QPushButton>(&w, "saveResultButton");
        QVERIFY(!save->isEnabled());
        QTest::mouseClick(child<QDialogButtonBox>(&w, "buttonBox")->button(QDialogButtonBox::Apply),
                          Qt::LeftButton);
        QVERIFY(save->isEnabled());

        QTemporaryDir dir;
        const QString path = dir.filePath("step.nxs"_q);
        Answerer answer;
        answer.file = path;
        QTest::mouseClick(save, Qt::LeftButton);
        QCOMPARE(answer.caption, "Save step response"_q);
        QCOMPARE(answer.filters, (QStringList{NexusFile::kFileFilter, kCsvFilter}));
        QVERIFY(answer.boxes.isEmpty());

        NexusReader r(path);
        QVERIFY(r.isOpen());
        const QCPGraph* stimulus = child<QCustomPlot>(&w, "graph")->graph(0);
        QCOMPARE(r.values("/entry/data/time"_q), keys(stimulus));
        QCOMPARE(r.values("/entry/data/stimulus"_q), values(stimulus));
        QCOMPARE(r.values("/entry/data/response"_q).size(), std::size_t(14335));
        const QString in = "/entry/instrument/"_q;
        QCOMPARE(r.number(in + "pid_x/kp"_q), 0.25);
        QCOMPARE(r.number(in + "pid_x/o_gain"_q), 2.0);
        QCOMPARE(r.number(in + "step/bias_x"_q), 5.0);
        QCOMPARE(QString::number(r.number(in + "results/gain"_q), 'g', 4),
                 child<QLabel>(&w, "Klabel")->text());
    }
};

QTEST_MAIN(TestNexusWindows)
#include "tst_nexuswindows.moc"
