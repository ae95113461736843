// The step-response window measuring the virtual beamline: a manual clock
// advanced by the window's own waits, the program's mailbox communicator,
// the simulator's first-start configuration. The gain, dead time and rise
// time it reports are the beamline model's. (What a run gives back to the
// controller afterwards is checked message by message in
// tst_windowstepresponse.)

#include "measure/windowstepresponse.h"
#include "sim/beamlinemodel.h"
#include "support/simfixture.h"
#include "support/widgets.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QRadioButton>

#include <cmath>

namespace
{
QString text(QWidget* w, const char* label) { return child<QLabel>(w, label)->text(); }
// The number a result label shows ("1.263 ms" gives 1.263).
double shown(QWidget* w, const char* label) { return text(w, label).section(' ', 0, 0).toDouble(); }

bool within10Percent(double value, double expected)
{
    return std::fabs(value - expected) <= 0.1 * std::fabs(expected);
}

struct Run {
    int axis;
    bool bpm2;
    double noise;
    bool swapped;
    double step, bias; // bias in volts; negative: as preset from the PID offset
};
} // namespace

Q_DECLARE_METATYPE(Run)

class TestStepResponseSim : public QObject
{
    Q_OBJECT

private slots:
    // K, Tdead and Tset within 10 % of what the model's constants give: the
    // position gain per volt at that BPM, and for a lag behind a dead time
    // Tdead = dead time + lag ln(10/9) (to the 10 % level) and Tset = lag ln 9
    // (10 % to 90 %). On the quiet beamline with the default 0.1 V step, on
    // the noisy, drifting one, and with the detector's left and right
    // electrodes swapped in the channel map, which turns the response upside
    // down.
    void run_reportsTheModelsGainAndTimes_data()
    {
        QTest::addColumn<Run>("run");
        QTest::newRow("Y at BPM 2, quiet") << Run{1, true, 0.0, false, 0.1, -1.0};
        QTest::newRow("X at BPM 1, swapped") << Run{0, false, 1.0, true, 0.5, -1.0};
        QTest::newRow("I0 at BPM 1, noisy") << Run{2, false, 1.0, false, 1.0, 3.5};
    }
    void run_reportsTheModelsGainAndTimes()
    {
        QFETCH(Run, run);
        const auto [axis, bpm2, noise, swapped, step, bias] = run;
        Scenario scenario;
        scenario.noiseLevel = scenario.driftLevel = noise;
        SimFixture rig(scenario);
        if (swapped)
            rig.mailbox.setBpmChannelMap(0, 3, 2, 1, 0); // right on channel 4, left on 2
        rig.advance(0.5);
        // One run as the operator makes it: open the window (biases from the
        // PID offsets), choose the axis and BPM, set the step, press Run.
        WindowStepResponse w;
        w.setWaitFunction(rig.waitMs());
        w.showWindow();
        const char* buttons[] = {"stepInXbutton", "stepInYbutton", "stepInI0button"};
        const char* steps[] = {"posXStepDoubleSpinBox", "posYStepDoubleSpinBox",
                               "i0StepDoubleSpinBox"};
        QTest::mouseClick(child<QRadioButton>(&w, buttons[axis]), Qt::LeftButton);
        child<QDoubleSpinBox>(&w, steps[axis])->setValue(step);
        if (bias >= 0.0)
            child<QDoubleSpinBox>(&w, "i0biasDoubleSpinBox")->setValue(bias); // the I0 row only
        child<QCheckBox>(&w, "useBPM2checkbox")->setChecked(bpm2);
        QTest::mouseClick(standardButton(&w, QDialogButtonBox::Apply), Qt::LeftButton);

        const double dead = BeamlineModel::deadTimeSeconds(axis);
        const double lag = BeamlineModel::lagSeconds(axis);
        const QString seen = QStringLiteral("K %1, Tdead %2, Tset %3")
                                 .arg(text(&w, "Klabel"), text(&w, "Tdeadlabel"), text(&w, "Tsetlabel"));
        // The intensity's gain depends on where the beam sits: only its sign.
        QVERIFY2((axis == 2 ? shown(&w, "Klabel") > 0
                            : within10Percent(shown(&w, "Klabel"),
                                              BeamlineModel::positionGain(bpm2 ? 1 : 0, axis))) &&
                     within10Percent(shown(&w, "Tdeadlabel"),
                                     1e3 * (dead + lag * std::log(10.0 / 9.0))) &&
                     within10Percent(shown(&w, "Tsetlabel"), 1e3 * lag * std::log(9.0)),
                 qPrintable(seen));
        QCOMPARE(text(&w, "invertedLabel"), swapped ? QStringLiteral("Inverted display") : QString());
    }
};

QTEST_MAIN(TestStepResponseSim)
#include "tst_stepresponsesim.moc"
