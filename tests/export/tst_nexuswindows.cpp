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
#include "support/bytes.h"
#include "support/programfixture.h"
#include "support/simfixture.h"
#include "support/widgets.h"

#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>

#include <qcustomplot.h>

#include <cmath>
#include <memory>

namespace
{
const QString kCsvFilter = "CSV files (*.csv)"_q;

// The keys (false: the values) of a plotted graph.
std::vector<double> points(const QCPGraph* graph, bool keys = true)
{
    std::vector<double> out;
    for (auto it = graph->data()->constBegin(); it != graph->data()->constEnd(); ++it)
        out.push_back(keys ? it->key : it->value);
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
    // "No" appends entry2, then entry3, leaving no other file. 3D rocking
    // curve: after a scan, Save Data offers NeXus second and a ".nxs" name
    // gets the raw grid over the scan's voltages.
    void saveDataAndRocking3d_nexusChoiceWritesAndAppends()
    {
        ProgramFixture program;
        program.setUp();
        std::vector<zevo::DisplayRecord> records(std::size_t(zevo::kDisplayBufferRecords));
        for (std::size_t i = 0; i < records.size(); ++i)
            records[i].value[0] = 0.5 * double(i);
        program.driver.setDisplayRecords(records);
        const double c[4] = {1e-6, 2e-6, 3e-6, 4e-6};
        program.driver.setPicoCurrentsReply(QByteArray(reinterpret_cast<const char*>(c), 32));
        QTemporaryDir dir;
        {
            WindowSaveData w;
            w.show();
            BoxCatcher answer;
            answer.filter = NexusFile::kFileFilter;
            answer.file = dir.filePath("run"_q);
            answer.answer = QMessageBox::No;
            click(&w, "selectPathButton");
            QCOMPARE(child<QLineEdit>(&w, "pathLineEdit")->text(), dir.filePath("run.nxs"_q));

            for (int save = 0; save < 3; ++save) // the later ones ask, and append
                QTest::mouseClick(buttonNamed(&w, "Save"_q), Qt::LeftButton);
            QCOMPARE(int(answer.boxes.size()), 2);
        }
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"run.nxs"_q});
        // entry stays as it was, the root's default plot included.
        NexusReader r(dir.filePath("run.nxs"_q));
        QCOMPARE(r.children("/"_q), (QStringList{"entry"_q, "entry2"_q, "entry3"_q}));
        const std::vector<double> x = r.values("/entry2/data/bpm1_pos_x"_q);
        QCOMPARE(std::make_pair(x.size(), x.back()), std::make_pair(std::size_t(1000), 499.5));
        QCOMPARE(r.values("/entry/data/bpm1_pos_x"_q), x);
        QCOMPARE(r.values("/entry3/data/bpm1_pos_x"_q), x);
        QCOMPARE(r.text("/"_q, "default"_q), "entry"_q);
        QVERIFY(!r.text("/"_q, "file_update_time"_q).isEmpty());

        const QString path = dir.filePath("grid.nxs"_q);
        std::vector<double> raw;
        {
            WindowRocking3D w;
            w.setSleeper([](unsigned long) {});
            child<QDoubleSpinBox>(&w, "xMinBox")->setValue(3.0);
            w.startMeasurement();
            raw.assign(w.rawGrid().begin(), w.rawGrid().end());

            BoxCatcher answer;
            answer.file = path;
            click(&w, "saveButton");
            QVERIFY(answer.boxes.empty());
        }
        NexusReader g(path);
        QCOMPARE(g.values("/entry/data/intensity"_q), raw);
        QVERIFY(std::fabs(raw[4095] - 1e-5) < 1e-11); // measured, not the zero grid
        const std::vector<double> v1 = g.values("/entry/data/v1"_q);
        QCOMPARE((std::vector<double>{v1.front(), v1.back()}), (std::vector<double>{3.0, 6.0}));
        program.tearDown();
    }

    // Rocking curve: Save… waits for a scan's points; NeXus first in the
    // dialog; each format holds the plotted points; a file that cannot be
    // written is reported in a box and nothing is left. Step response: Save…
    // waits for a run; a ".nxs" name gets the run's samples, the loop's
    // stored PID parameters and the figures shown.
    void rockingCurveAndStepResponse_saveWritesTheResult()
    {
        SimFixture rig;
        QTemporaryDir dir;
        {
            WindowRockingCurve w;
            w.setWaitFunction(rig.waitUs());
            auto* save = child<QPushButton>(&w, "saveResultButton");
            QVERIFY(!save->isEnabled());
            child<QSpinBox>(&w, "boxN")->setValue(25);
            click(&w, "buttonStart");
            QVERIFY(save->isEnabled());
            for (const QString& filter : {QString(), kCsvFilter}) {
                BoxCatcher answer;
                answer.filter = filter;
                answer.file = dir.filePath(filter.isEmpty() ? "curve.nxs"_q : "curve.csv"_q);
                QTest::mouseClick(save, Qt::LeftButton);
                QCOMPARE(answer.dialogs.at(0).filters,
                         (QStringList{NexusFile::kFileFilter, kCsvFilter}));
                QVERIFY(answer.boxes.empty());
            }

            const QCPGraph* sum = child<QCustomPlot>(&w, "graph")->graph(2);
            QCOMPARE(points(sum).size(), std::size_t(25));
            NexusReader r(dir.filePath("curve.nxs"_q));
            QCOMPARE(r.values("/entry/data/voltage"_q), points(sum));
            QCOMPARE(r.values("/entry/data/sum"_q), points(sum, false));
            const QList<QByteArray> lines = fileText(dir.filePath("curve.csv"_q)).split('\n');
            QCOMPARE(lines.size(), 9 + 25 + 1);
            QCOMPARE(lines[9].split(',').value(0), displaycsv::formatDouble(points(sum)[0]));
            QCOMPARE(lines[33].split(',').value(3).trimmed(),
                     displaycsv::formatDouble(points(sum, false)[24]));

            BoxCatcher answer;
            for (const QString& name : {"curve.nxs"_q, "curve.csv"_q})
                QVERIFY(!w.writeResultFile(dir.filePath("missing/"_q + name)));
            QTRY_COMPARE(int(answer.boxes.size()), 2);
            for (const auto& box : answer.boxes)
                QVERIFY2(box.text.contains("missing"_q), qPrintable(box.text));
            QVERIFY(!QFileInfo::exists(dir.filePath("missing"_q)));
        }

        rig.config.setPidX(500, 0.25, 0.05, 0.0, 0, 100, -10, 10, 2, 5.0);
        WindowStepResponse w;
        w.setWaitFunction(rig.waitMs());
        w.showWindow();
        auto* save = child<QPushButton>(&w, "saveResultButton");
        QVERIFY(!save->isEnabled());
        QTest::mouseClick(standardButton(&w, QDialogButtonBox::Apply), Qt::LeftButton);
        QVERIFY(save->isEnabled());

        const QString path = dir.filePath("step.nxs"_q);
        BoxCatcher answer;
        answer.file = path;
        QTest::mouseClick(save, Qt::LeftButton);
        QCOMPARE(answer.dialogs.at(0).filters, (QStringList{NexusFile::kFileFilter, kCsvFilter}));
        QVERIFY(answer.boxes.empty());

        NexusReader r(path);
        const QCPGraph* stimulus = child<QCustomPlot>(&w, "graph")->graph(0);
        QCOMPARE(r.values("/entry/data/time"_q), points(stimulus));
        QCOMPARE(r.values("/entry/data/stimulus"_q), points(stimulus, false));
        QCOMPARE(r.values("/entry/data/response"_q).size(), std::size_t(14335));
        const QString in = "/entry/instrument/"_q;
        QCOMPARE((std::vector<double>{r.number(in + "pid_x/kp"_q), r.number(in + "pid_x/o_gain"_q),
                                      r.number(in + "step/bias_x"_q)}),
                 (std::vector<double>{0.25, 2.0, 5.0}));
        QCOMPARE(QString::number(r.number(in + "results/gain"_q), 'g', 4),
                 child<QLabel>(&w, "Klabel")->text());
    }
};

QTEST_MAIN(TestNexusWindows)
#include "tst_nexuswindows.moc"
