// The PID tuning assistant over the recording driver, fed with synthetic
// step-response runs of known models: who may apply, that Apply stores and
// sends exactly what the PID window's OK would for the measured loop only,
// that Undo brings the previous gains back and Cancel changes nothing, and
// how the proposal copes with an inverted actuator, a gain in amperes, a
// measurement at the wrong BPM and a run without a usable step.

#include "support/bytes.h"
#include "support/programfixture.h"
#include "support/widgets.h"

#include "app/initresources.h"
#include "control/dialoglogin.h"
#include "control/widgetpidparams.h"
#include "control/windowpidparams.h"
#include "measure/windowpidtuning.h"

#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>

#include <cmath>
#include <random>

using namespace zevo;

namespace
{
constexpr double kRate = 50000.0;
constexpr int kSamples = 14335;

// A step-response run as the step-response window records it: bias, 100 ms
// of step, bias again, the response of a first-order-plus-dead-time plant
// with a little noise.
StepRecording recording(int loop, double gain, double tau, double dead, double noise = 0.0,
                        double offset = 0.01)
{
    StepRecording run;
    run.loop = loop;
    run.sampleRate = kRate;
    run.step = 0.5;
    run.stimulus.assign(kSamples, 5.1);
    for (int i = 3333; i < 8333; ++i)
        run.stimulus[std::size_t(i)] += run.step;
    FopdtModel plant;
    plant.valid = true;
    plant.gain = gain;
    plant.timeConstant = tau;
    plant.deadTime = dead;
    plant.offset = offset;
    run.response = fopdtResponse(plant, run.stimulus, kRate);
    std::mt19937 random(7);
    std::normal_distribution<double> n(0.0, noise);
    if (noise > 0.0)
        for (double& v : run.response)
            v += n(random);
    return run;
}

struct Loop {
    double v[10]; // Freq, Kp, Ki, Kd, e min, I max, O min, O max, O gain, Offset
    bool operator==(const Loop& o) const { return std::equal(v, v + 10, o.v); }
};

Loop stored(void (ConfigStore::*get)(double*, double*, double*, double*, double*, double*, double*,
                                     double*, double*, double*) const)
{
    Loop l{};
    (theConfig->*get)(&l.v[0], &l.v[1], &l.v[2], &l.v[3], &l.v[4], &l.v[5], &l.v[6], &l.v[7],
                      &l.v[8], &l.v[9]);
    return l;
}

} // namespace

class TestWindowPidTuning : public QObject
{
    Q_OBJECT

    ProgramFixture f;
    std::unique_ptr<DialogLogin> login;
    std::unique_ptr<WindowPIDparams> pid;
    std::unique_ptr<WindowPidTuning> w;

    QPushButton* button(QDialogButtonBox::StandardButton which) const
    {
        return standardButton(w.get(), which);
    }
    QPushButton* undoButton() const { return child<QPushButton>(w.get(), "undoButton"); }
    QString text(const char* label) const { return child<QLabel>(w.get(), label)->text(); }

    void storeLoops()
    {
        QVERIFY(f.config->setPidX(1000, 0.3, 0.1, 0.01, 0, 100, -12, 12, 1, 5.1));
        QVERIFY(f.config->setPidY(2000, 4, 8, 16, 2, 50, -5, 5, 1, -1.5));
        QVERIFY(f.config->setPidI0(500, 0.75, 1.5, 3, 4, 200, -2, 2, 4, 0.25));
    }

    void setLevel(int level)
    {
        userLevel = level;
        emit login->userLevelChanged(level);
    }

private slots:
    void initTestCase() { initResources(); }

    void init()
    {
        f.setUp();
        PID_BASE_FREQ = 100000;
        pidSourceX = 0;
        pidSourceY = 0;
        pidSourceI0 = 0;
        userLevel = 2;
        storeLoops();
        login = std::make_unique<DialogLogin>(nullptr);
        theLogin = login.get();
        pid = std::make_unique<WindowPIDparams>();
        w = std::make_unique<WindowPidTuning>();
        w->setPidWindow(pid.get());
        f.driver.clearCalls();
    }

    void cleanup()
    {
        w.reset();
        pid.reset();
        theLogin = nullptr;
        login.reset();
        f.tearDown();
        userLevel = 0;
        pidSourceX = 0;
    }

    // The proposal is the rules' at the rate the controller really runs the
    // loop (3000 Hz requested: 33 base ticks, 3030.30 Hz), as the boxes hold
    // it; the slider's smooth end is ten dead times, slower and gentler. A
    // loop that regulates on the other BPM is named.
    void proposal_atTheLoopsRealRate_sliderAndSource()
    {
        QVERIFY(f.config->setPidX(3000, 0.3, 0.1, 0.01, 0, 100, -12, 12, 1, 5.1));
        StepRecording run = recording(kPidX, 0.2, 2.5e-3, 1.0e-3, 2e-4);
        w->setRecording(run);
        QCOMPARE(text("loopRateLabel"), QString("3030.30 Hz (100000 Hz / 33)"));
        QCOMPARE(w->tauC(), w->model().deadTime);
        const double rate = 100000.0 / 33;
        const PidLawParameters expected =
            controllerParameters(simcTuning(w->model(), w->tauC(), rate), rate, PidLawParameters());
        QCOMPARE(text("proposedKp"), QString::number(expected.kp, 'f', 5));
        QCOMPARE(text("proposedKi"), QString::number(expected.ki, 'f', 5));
        QCOMPARE(text("presentKp"), QString("0.30000"));
        QVERIFY(w->prediction().settled);
        QVERIFY(child<QLabel>(w.get(), "sourceWarningLabel")->isHidden());

        const ClosedLoopStep tight = w->prediction();
        child<QSlider>(w.get(), "tauCSlider")->setValue(WindowPidTuning::kSmoothPosition);
        QCOMPARE(w->tauC(), 10.0 * w->model().deadTime);
        QVERIFY(w->prediction().settlingTime > tight.settlingTime);
        QVERIFY(w->prediction().overshoot <= tight.overshoot);

        pidSourceX = 1;
        w->setRecording(run);
        QVERIFY(text("sourceWarningLabel").contains("regulates on BPM 2"));
        QVERIFY(!child<QLabel>(w.get(), "sourceWarningLabel")->isHidden());
    }

    // Apply only for an administrator, following the login; and the PID
    // window itself refuses anyone else.
    void apply_onlyAtLevelTwo()
    {
        w->setRecording(recording(kPidX, 0.2, 2.5e-3, 1.0e-3));
        for (int level : {0, 1}) {
            setLevel(level);
            QVERIFY(!button(QDialogButtonBox::Apply)->isEnabled());
            QVERIFY(!pid->applyLoopGains(kPidX, 1, 1, 0, 1));
        }
        QVERIFY(f.driver.transfers().empty());
        setLevel(2);
        QVERIFY(button(QDialogButtonBox::Apply)->isEnabled());
        QVERIFY(!undoButton()->isEnabled());
        w->setPidWindow(nullptr); // nothing to send through
        QVERIFY(!button(QDialogButtonBox::Apply)->isEnabled());
    }

    // Apply stores and sends the messages and values that OK of the PID
    // window sends with the proposal typed into the measured loop's panel:
    // the other loops and the rest of this one as stored, edits left unsent
    // in the PID window dropped. Undo then stores and sends the old gains.
    void apply_sendsWhatOkWould_undoRestores_data()
    {
        QTest::addColumn<int>("loop");
        QTest::newRow("X") << int(kPidX);
        QTest::newRow("Y") << int(kPidY);
        QTest::newRow("I0") << int(kPidI0);
    }
    void apply_sendsWhatOkWould_undoRestores()
    {
        QFETCH(int, loop);
        const char* panels[3] = {"posXwidget", "posYwidget", "intI0widget"};
        const auto getters = {&ConfigStore::getPidX, &ConfigStore::getPidY, &ConfigStore::getPidI0};
        std::vector<Loop> before;
        for (auto g : getters)
            before.push_back(stored(g));

        pid->showWindow();
        auto* other = pid->findChild<WidgetPIDparams*>(panels[(loop + 1) % 3]);
        child<QDoubleSpinBox>(other, "boxKp")->setValue(77); // never sent
        w->setRecording(recording(loop, 0.2, 2.5e-3, 1.0e-3, 2e-4));
        QVERIFY(w->proposalValid());
        const PidLawParameters proposal = w->proposal();
        f.driver.clearCalls();
        button(QDialogButtonBox::Apply)->click();
        const QStringList applied = hexOf(f.driver.transfers());
        std::vector<Loop> afterApply;
        for (auto g : getters)
            afterApply.push_back(stored(g));
        QVERIFY(undoButton()->isEnabled());

        // The measured loop holds the proposal, exactly as predicted.
        Loop expected = before[std::size_t(loop)];
        expected.v[1] = proposal.kp;
        expected.v[2] = proposal.ki;
        expected.v[3] = proposal.kd;
        expected.v[8] = proposal.oGain;
        for (int l = 0; l < 3; ++l)
            QVERIFY2(afterApply[std::size_t(l)] == (l == loop ? expected : before[std::size_t(l)]),
                     qPrintable(QString("loop %1").arg(l)));

        // The same through OK, from the same stored file.
        storeLoops();
        pid->showWindow();
        auto* panel = pid->findChild<WidgetPIDparams*>(panels[loop]);
        child<QDoubleSpinBox>(panel, "boxKp")->setValue(proposal.kp);
        child<QDoubleSpinBox>(panel, "boxKi")->setValue(proposal.ki);
        child<QDoubleSpinBox>(panel, "boxKd")->setValue(proposal.kd);
        child<QDoubleSpinBox>(panel, "boxOgain")->setValue(proposal.oGain);
        f.driver.clearCalls();
        standardButton(pid.get(), QDialogButtonBox::Ok)->click();
        QCOMPARE(applied.size(), 18);
        QCOMPARE(hexOf(f.driver.transfers()), applied);
        int l = 0;
        for (auto g : getters)
            QVERIFY(stored(g) == afterApply[std::size_t(l++)]);

        f.driver.clearCalls();
        undoButton()->click();
        QVERIFY(!undoButton()->isEnabled());
        QCOMPARE(int(f.driver.transfers().size()), 18);
        l = 0;
        for (auto g : getters)
            QVERIFY(stored(g) == before[std::size_t(l++)]);
    }

    // Tries along the slider, even over a new run of the same loop, end
    // where they began with one Undo; a run of another loop drops it.
    void undo_afterSeveralApplies_restoresTheOriginal()
    {
        const Loop original = stored(&ConfigStore::getPidX);
        w->setRecording(recording(kPidX, 0.2, 2.5e-3, 1.0e-3));
        button(QDialogButtonBox::Apply)->click();
        child<QSlider>(w.get(), "tauCSlider")->setValue(30);
        button(QDialogButtonBox::Apply)->click();
        w->setRecording(recording(kPidX, 0.25, 2.5e-3, 1.0e-3));
        button(QDialogButtonBox::Apply)->click();
        QVERIFY(!(stored(&ConfigStore::getPidX) == original));
        QVERIFY(undoButton()->isEnabled());
        undoButton()->click();
        QVERIFY(stored(&ConfigStore::getPidX) == original);
        QCOMPARE(text("presentKp"), QString("0.30000"));

        button(QDialogButtonBox::Apply)->click();
        w->setRecording(recording(kPidY, 0.2, 2.5e-3, 1.0e-3));
        QVERIFY(!undoButton()->isEnabled());
    }

    // Cancel closes and changes nothing, on the controller or in the file.
    void cancel_changesNothing()
    {
        const QByteArray file = fileText(f.config->filePath());
        w->setRecording(recording(kPidX, 0.2, 2.5e-3, 1.0e-3));
        w->showWindow();
        child<QSlider>(w.get(), "tauCSlider")->setValue(40);
        button(QDialogButtonBox::Cancel)->click();
        QVERIFY(!w->isVisible());
        QVERIFY(f.driver.transfers().empty());
        QCOMPARE(fileText(f.config->filePath()), file);
    }

    // Noise without a step gives no model: said so, nothing proposed, Apply
    // disabled even for an administrator.
    void noStep_noProposal_applyDisabled()
    {
        StepRecording run = recording(kPidX, 0.0, 2.5e-3, 1.0e-3, 1e-3);
        w->setRecording(run);
        QVERIFY(!w->model().valid);
        QVERIFY(!w->proposalValid());
        QVERIFY(!button(QDialogButtonBox::Apply)->isEnabled());
        QVERIFY(!child<QLabel>(w.get(), "fitWarningLabel")->isHidden());
        QCOMPARE(text("proposedKp"), QString("-"));
        QCOMPARE(text("gainLabel"), QString("-"));

        // A good run afterwards brings everything back.
        w->setRecording(recording(kPidX, 0.2, 2.5e-3, 1.0e-3));
        QVERIFY(button(QDialogButtonBox::Apply)->isEnabled());
        QVERIFY(child<QLabel>(w.get(), "fitWarningLabel")->isHidden());
    }

    // The boxes take no negative gains and at most 10000: an inverted
    // actuator gets a negative O gain, an intensity loop (amperes per volt)
    // a power of ten in the O gain. Either way the predicted loop settles
    // with the overshoot of the same loop upright.
    void proposal_fitsTheBoxes_data()
    {
        QTest::addColumn<int>("loop");
        QTest::addColumn<double>("gain");
        QTest::addColumn<double>("oGain");
        QTest::newRow("inverted position") << int(kPidX) << -0.2 << -1.0;
        QTest::newRow("intensity, amperes") << int(kPidI0) << 2e-5 << 10000.0;
    }
    void proposal_fitsTheBoxes()
    {
        QFETCH(int, loop);
        QFETCH(double, gain);
        QFETCH(double, oGain);
        if (loop == kPidI0)
            QVERIFY(f.config->setPidI0(1000, 0.75, 1.5, 3, 0, 200, -2, 12, 4, 6));
        w->setRecording(recording(loop, gain, 2.5e-3, 1.0e-3, std::fabs(gain) * 1e-3));
        QVERIFY(w->proposalValid());
        const PidLawParameters p = w->proposal();
        QCOMPARE(p.oGain, oGain);
        QVERIFY(p.kp > 0 && p.kp <= 10000);
        QVERIFY(p.ki > 0 && p.ki <= 10000);
        QVERIFY(w->prediction().settled);

        WindowPidTuning upright;
        upright.setRecording(recording(kPidX, 0.2, 2.5e-3, 1.0e-3, 2e-4));
        QVERIFY(std::fabs(w->prediction().overshoot - upright.prediction().overshoot) < 0.02);
        QVERIFY(std::fabs(w->prediction().settlingTime - upright.prediction().settlingTime) <
                0.1 * upright.prediction().settlingTime);

        button(QDialogButtonBox::Apply)->click();
        const Loop l = stored(loop == kPidX ? &ConfigStore::getPidX : &ConfigStore::getPidI0);
        QCOMPARE(l.v[1], p.kp);
        QCOMPARE(l.v[8], oGain);
    }
};

QTEST_MAIN(TestWindowPidTuning)
#include "tst_windowpidtuning.moc"
