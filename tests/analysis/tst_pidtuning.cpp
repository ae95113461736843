// The PID tuning assistant's arithmetic: the first-order-plus-dead-time fit
// on synthetic step responses with known constants and on the virtual
// beamline, the SIMC rules against figures worked out by hand, the
// controller's parameters against a continuous PI loop simulated here
// independently, and the closed-loop prediction against the virtual
// controller itself. And the step-response window's evaluation (gain, dead
// time, rise time) on the same synthetic runs.

#include "analysis/pidtuning.h"
#include "analysis/stepresponse.h"
#include "sim/beamlinemodel.h"
#include "sim/simrig.h"

#include <QElapsedTimer>
#include <QtTest>

#include <cmath>
#include <deque>
#include <limits>
#include <random>
#include <vector>

namespace
{
// A step-response run as the step-response window records it: 14 335
// samples at 50 kHz, the stimulus at its bias, stepped for 100 ms, back at
// the bias; the response a first-order lag behind a dead time, whose
// constants are therefore known exactly.

constexpr double kRate = 50000.0;
constexpr int kSamples = 14335;
constexpr int kStepUp = 3333;
constexpr int kStepDown = kStepUp + 5000;

struct Plant {
    double gain, tau, theta;
};

struct Run {
    std::vector<double> response, stimulus, exact;
};

// offset + K * (lag behind a dead time) for a pulse of `step` volts from
// `bias`, plus Gaussian noise. The stimulus really moves at `phase` of the
// way from the sample before its recorded step to that one.
Run pulseRun(const Plant& p, double offset, double step, double phase = 0.5, double noise = 0.0,
             double bias = 2.0)
{
    Run run;
    std::mt19937 generator(1);
    std::normal_distribution<double> gauss(0.0, noise);
    const double up = (kStepUp - 1 + phase) / kRate + p.theta;
    const double down = (kStepDown - 1 + phase) / kRate + p.theta;
    const auto rise = [&](double since) { return since <= 0 ? 0.0 : -std::expm1(-since / p.tau); };
    for (int i = 0; i < kSamples; ++i) {
        const double t = i / kRate;
        run.stimulus.push_back(i >= kStepUp && i < kStepDown ? bias + step : bias);
        run.exact.push_back(offset + p.gain * step * (rise(t - up) - rise(t - down)));
        run.response.push_back(run.exact.back() + (noise > 0 ? gauss(generator) : 0.0));
    }
    return run;
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

FopdtModel modelOf(const Plant& p)
{
    return {true, p.gain, p.tau, p.theta, 0.0, 0.0};
}

bool near(double value, double expected, double relative)
{
    return std::fabs(value - expected) <= relative * std::fabs(expected);
}

QByteArray describe(const FopdtModel& m)
{
    return QString::asprintf("K %g, tau %g ms, theta %g ms, offset %g, rms %g", m.gain,
                             m.timeConstant * 1e3, m.deadTime * 1e3, m.offset, m.residualRms)
        .toUtf8();
}

// A continuous PI controller on the plant, integrated by Euler steps far
// shorter than every time constant: the loop the controller's discrete law
// should reproduce. The response to a setpoint step, every dt.
std::vector<double> continuousLoop(const Plant& p, const PiTuning& pi, double step, double duration,
                                   double dt)
{
    std::deque<double> line(std::size_t(std::lround(p.theta / dt)), 0.0); // outputs on their way
    double x = 0.0, integral = 0.0;
    std::vector<double> y;
    for (long k = 0; k <= std::lround(duration / dt); ++k) {
        y.push_back(p.gain * x);
        const double e = step - y.back();
        integral += e * dt;
        line.push_back(pi.kc * (e + integral / pi.tauI));
        x += dt * (line.front() - x) / p.tau;
        line.pop_front();
    }
    return y;
}
struct Figures {
    double overshoot = 0.0, settling = 0.0;
    bool settled = false;
};
Figures figuresOf(const std::vector<double>& response, double step, double rate)
{
    Figures f;
    stepFigures(response, step, rate, &f.overshoot, &f.settling, &f.settled);
    return f;
}
} // namespace

constexpr double kOneSample = 1.0 / kRate;

struct FitCase {
    Plant plant;
    double offset, step, phase, noise;
};

Q_DECLARE_METATYPE(std::vector<double>)
Q_DECLARE_METATYPE(FitCase)

// A run's bias, step and baseline, and whether its response is inverted.
struct Case {
    double bias, step, baseline;
    Plant plant;
    bool inverted;
};
Q_DECLARE_METATYPE(Case)

class TestPidTuning : public QObject
{
    Q_OBJECT

private slots:
    // Noise is an rms, as a fraction of the response's step.
    void fit_recoversKnownModel_data()
    {
        QTest::addColumn<FitCase>("c");
        QTest::newRow("beamline X, noisy") << FitCase{{0.2, 2.5e-3, 1e-3}, 0.013, 0.1, 0.5, 0.05};
        QTest::newRow("inverted, noisy") << FitCase{{-0.35, 4e-3, 1.5e-3}, -0.2, 0.2, 0.5, 0.05};
        QTest::newRow("dead time of 6.5 samples")
            << FitCase{{0.24, 0.5e-3, 0.13e-3}, 0.0, 0.05, 0.5, 0.0};
        QTest::newRow("lag shorter than a sample")
            << FitCase{{1.0, 5e-6, 0.5e-3}, 0.0, 0.1, 0.5, 0.0};
        QTest::newRow("slow lag") << FitCase{{3.0, 20e-3, 3e-3}, 0.4, 0.05, 0.5, 0.0};
        QTest::newRow("negative step") << FitCase{{0.2, 2.5e-3, 1e-3}, 0.0, -0.1, 0.5, 0.0};
        QTest::newRow("step just before its sample")
            << FitCase{{0.2, 2.5e-3, 1e-3}, 0.0, 0.1, 0.9, 0.0};
        QTest::newRow("amperes") << FitCase{{1e-7, 1.5e-3, 0.5e-3}, 5e-5, 1.0, 0.5, 0.05};
    }

    void fit_recoversKnownModel()
    {
        QFETCH(FitCase, c);
        const auto& [plant, offset, step, phase, noise] = c;
        const double size = std::fabs(plant.gain * step);
        const Run run = pulseRun(plant, offset, step, phase, noise * size);
        const FopdtModel m = fitFopdt(run.response, run.stimulus, kRate);
        // A lag far below a sample is seen as "within a sample"; the residual
        // is the noise, and the drawn model is the true response.
        QVERIFY2(m.valid && near(m.gain, plant.gain, 0.05) && near(m.deadTime, plant.theta, 0.05) &&
                     (near(m.timeConstant, plant.tau, 0.05) || m.timeConstant < 0.5 / kRate) &&
                     std::fabs(m.offset - offset) < 0.02 * size &&
                     m.residualRms < 1.05 * noise * size + 0.01 * size,
                 describe(m));
        const std::vector<double> drawn = fopdtResponse(m, run.stimulus, kRate);
        QCOMPARE(drawn.size(), run.exact.size());
        for (std::size_t i = 0; i < drawn.size(); ++i)
            QVERIFY2(std::fabs(drawn[i] - run.exact[i]) < 0.02 * size, describe(m));
    }

    void missingSamplesLeftOut_fitFastOnAFullRun()
    {
        // Gaps in the response (a detector without current) and in the
        // stimulus: a stimulus gap over the step must not move the step.
        const Plant p{-0.2, 2.5e-3, 1.0e-3};
        const Run clean = pulseRun(p, 0.01, 0.1);
        Run run = clean;
        for (int i = 100; i < kSamples; i += 37)
            run.response[std::size_t(i)] = kNaN;
        for (int i = 4000; i < 4200; ++i)
            run.response[std::size_t(i)] = std::numeric_limits<double>::infinity();
        run.stimulus[0] = run.stimulus[kStepUp + 3] = run.stimulus[kStepDown - 1] = kNaN;

        QElapsedTimer timer;
        timer.start();
        const FopdtModel m = fitFopdt(run.response, run.stimulus, kRate);
        const double ms = timer.nsecsElapsed() * 1e-6;
        QVERIFY2(m.valid && std::isfinite(m.residualRms) && near(m.gain, p.gain, 0.01) &&
                     near(m.timeConstant, p.tau, 0.01) && near(m.deadTime, p.theta, 0.02),
                 describe(m));
        // Far more than it takes, even instrumented: a panel that waits seconds
        // for its fit is a fault.
        QVERIFY2(ms < 1000.0, QByteArray::number(ms));

        // The step-response evaluation: samples that are not numbers take no
        // part in the levels (they cannot be ordered) nor in the crossings,
        // and the rest is evaluated as before.
        const StepResponse r = evaluateStepResponse(run.response, run.stimulus, 2.0, 0.1, kRate);
        const StepResponse e =
            evaluateStepResponse(clean.response, clean.stimulus, 2.0, 0.1, kRate);
        QVERIFY(std::fabs(r.low - e.low) < 1e-9 && std::fabs(r.high - e.high) < 1e-6);
        QVERIFY(std::fabs(r.deadTime - e.deadTime) <= kOneSample);
    }

    void fit_noUsableStep_notValid_data()
    {
        QTest::addColumn<std::vector<double>>("response");
        QTest::addColumn<std::vector<double>>("stimulus");
        QTest::addColumn<double>("rate");

        const Run good = pulseRun({0.2, 2.5e-3, 1e-3}, 0.0, 0.1);
        const std::vector<double> flat(kSamples, 2.0);
        const auto part = [](const std::vector<double>& v) {
            return std::vector<double>(v.begin() + kStepUp - 10, v.begin() + kStepUp + 10);
        };

        QTest::newRow("stimulus never moves") << good.response << flat << kRate;
        QTest::newRow("response never moves") << flat << good.stimulus << kRate;
        QTest::newRow("response is noise alone")
            << pulseRun({0.2, 2.5e-3, 1e-3}, 0.0, 0.0, 0.5, 0.01).response << good.stimulus
            << kRate;
        QTest::newRow("response missing")
            << std::vector<double>(kSamples, kNaN) << good.stimulus << kRate;
        QTest::newRow("stimulus missing")
            << good.response << std::vector<double>(kSamples, kNaN) << kRate;
        QTest::newRow("step in the last samples")
            << part(good.response) << part(good.stimulus) << kRate;
        QTest::newRow("empty") << std::vector<double>() << std::vector<double>() << kRate;
        QTest::newRow("no sample rate") << good.response << good.stimulus << 0.0;
    }

    void fit_noUsableStep_notValid()
    {
        QFETCH(std::vector<double>, response);
        QFETCH(std::vector<double>, stimulus);
        QFETCH(double, rate);
        const FopdtModel m = fitFopdt(response, stimulus, rate);
        QVERIFY2(!m.valid, describe(m));
        // Nothing to draw or to tune from.
        QVERIFY(fopdtResponse(m, stimulus, kRate).empty());
        QCOMPARE(simcTuning(m, 1e-3, 1000.0).kc, 0.0);
        QVERIFY(simulateClosedLoop(m, PidLawParameters(), 1000.0, 5.0, 0.01, 0.05).time.empty());
    }

    void simc_matchesHandComputedParameters()
    {
        // Case 1, the X actuator at BPM 1: K = 0.2 /V, tau = 2.5 ms, theta = 1 ms,
        // tight tuning tauC = theta = 1 ms.
        //   continuous:  Kc = 2.5 / (0.2 (1 + 1)) = 6.25,   tauI = min(2.5, 4 * 2) = 2.5 ms
        //   at 1 kHz:    theta' = 1 + 0.5 = 1.5 ms
        //                Kc = 2.5 / (0.2 (1 + 1.5)) = 5,    tauI = min(2.5, 4 * 2.5) = 2.5 ms
        //                ki = 5 * 1 ms / 2.5 ms = 2
        //                kp = 5 (1 - 1 ms / (2 * 2.5 ms)) = 4,  kd = 0   (O gain 1)
        const FopdtModel x = modelOf({0.2, 2.5e-3, 1.0e-3});
        PiTuning t = simcTuning(x, 1.0e-3);
        QVERIFY(near(t.kc, 6.25, 1e-12) && near(t.tauI, 2.5e-3, 1e-12) && t.tauD == 0.0);
        t = simcTuning(x, 1.0e-3, 1000.0);
        QVERIFY(near(t.kc, 5.0, 1e-12) && near(t.tauI, 2.5e-3, 1e-12));
        PidLawParameters base;
        base.oMin = 1.0;
        base.iMax = 7.0;
        base.oGain = 0.0; // no usable O gain: becomes 1
        PidLawParameters p = controllerParameters(t, 1000.0, base);
        QVERIFY(near(p.kp, 4.0, 1e-12) && near(p.ki, 2.0, 1e-12) && p.kd == 0.0);
        QVERIFY(p.oGain == 1.0 && p.oMin == 1.0 && p.iMax == 7.0 && p.oMax == base.oMax);

        // Case 2, an inverted actuator with a long lag: K = -0.5, tau = 40 ms,
        // theta = 2 ms, a smoother tauC = 3 ms.
        //   continuous:  Kc = 40 / (-0.5 (3 + 2)) = -16,  tauI = min(40, 4 * 5) = 20 ms
        //   at 2 kHz:    theta' = 2 + 0.25 = 2.25 ms, tauC + theta' = 5.25 ms
        //                Kc = 40 / (-0.5 * 5.25) = -15.238095,  tauI = min(40, 21) = 21 ms
        //   O gain 4:    ki = -15.238095 * 0.5 ms / (21 ms * 4) = -0.090702948
        //                kp = -15.238095 (1 - 0.5 / 42) / 4 = -3.7641723
        //   tauD = 1 ms: kd = -15.238095 * 1 ms / (0.5 ms * 4) = -7.6190476
        const FopdtModel slow = modelOf({-0.5, 40e-3, 2e-3});
        t = simcTuning(slow, 3e-3);
        QVERIFY(near(t.kc, -16.0, 1e-12) && near(t.tauI, 20e-3, 1e-12));
        t = simcTuning(slow, 3e-3, 2000.0);
        QVERIFY(near(t.kc, -15.238095238, 1e-9) && near(t.tauI, 21e-3, 1e-12));
        t.tauD = 1e-3;
        base = PidLawParameters();
        base.oGain = 4.0;
        p = controllerParameters(t, 2000.0, base);
        QVERIFY(near(p.kp, -3.7641723356, 1e-9) && near(p.ki, -0.090702948, 1e-8));
        QVERIFY(near(p.kd, -7.6190476190, 1e-9) && p.oGain == 4.0);

        // No finite gain: no dead time with an instant closed loop, no gain, no
        // tauC. A negative tauC is the tightest, zero. No loop rate: no conversion.
        QCOMPARE(simcTuning(modelOf({0.2, 2.5e-3, 0.0}), 0.0).kc, 0.0);
        QCOMPARE(simcTuning(modelOf({0.0, 2.5e-3, 1e-3}), 1e-3).kc, 0.0);
        QCOMPARE(simcTuning(x, kNaN).kc, 0.0);
        QCOMPARE(simcTuning(x, -1.0, 1000.0).kc, simcTuning(x, 0.0, 1000.0).kc);
        QCOMPARE(controllerParameters(t, 0.0, base).kp, base.kp);
    }

    void controllerParameters_runByTheLaw_giveTheContinuousPi()
    {
        // An error ramp e(t) = a + b t met by runs at t = 0, Ts, 2 Ts ... has,
        // on average, been there from half a period before the first run. The
        // law with the converted parameters gives the continuous PI output
        //   Kc (e(t) + 1/tauI * integral of e from -Ts/2 to t)
        // up to the trapezoidal rule's error over the first half period,
        // Kc b Ts^2 / (8 tauI); a rectangle rule would drift off by
        // Kc b t Ts / (2 tauI). Whatever the O gain.
        PiTuning t;
        t.kc = -2.0;
        t.tauI = 4e-3;
        const double rate = 2000.0, ts = 1.0 / rate, a = 0.01, b = 3.0, offset = 5.0;
        const double allowed = std::fabs(t.kc * b * ts * ts / (8.0 * t.tauI)) * (1.0 + 1e-9);
        for (const double oGain : {1.0, 2.5, -3.0}) {
            PidLawParameters base;
            base.oGain = oGain;
            base.oMin = -1e9;
            base.oMax = 1e9;
            base.iMax = 1e9;
            const PidLawParameters p = controllerParameters(t, rate, base);
            PidLaw law;
            law.reset(offset);
            for (int n = 0; n <= 50; ++n) {
                const double time = n * ts, from = -0.5 * ts, e = a + b * time;
                const double integral = a * (time - from) + 0.5 * b * (time * time - from * from);
                const double expected = offset + t.kc * (e + integral / t.tauI);
                const double out = law.run(p, 0.0, -e, offset);
                QVERIFY2(std::fabs(out - expected) <= allowed,
                         qPrintable(QStringLiteral("O gain %1, run %2").arg(oGain).arg(n)));
            }
        }
    }

    void closedLoop_reproducesContinuousPi_data()
    {
        QTest::addColumn<double>("rate");
        QTest::addColumn<double>("tauC");
        // A loop far faster than the plant is the continuous loop. At the
        // controller's 1 kHz the output held between runs acts as half a period
        // of dead time: tuned for it, the loop is the continuous one on the
        // plant with that dead time added.
        QTest::newRow("20 kHz, tight") << 20000.0 << 1e-3;
        QTest::newRow("20 kHz, smooth") << 20000.0 << 3e-3;
        QTest::newRow("1 kHz, tight") << 1000.0 << 1e-3;
        QTest::newRow("1 kHz, smooth") << 1000.0 << 3e-3;
    }

    void closedLoop_reproducesContinuousPi()
    {
        QFETCH(double, rate);
        QFETCH(double, tauC);
        const Plant plant{0.2, 2.5e-3, 1.0e-3};
        const double step = 0.01, duration = 40e-3, dt = 1e-6, offset = 5.1;
        const PiTuning pi = simcTuning(modelOf(plant), tauC, rate);
        PidLawParameters base;
        base.iMax = 1e9;
        const ClosedLoopStep d = simulateClosedLoop(
            modelOf(plant), controllerParameters(pi, rate, base), rate, offset, step, duration);
        const Plant equivalent{plant.gain, plant.tau, plant.theta + 0.5 / rate};
        const std::vector<double> c = continuousLoop(equivalent, pi, step, duration, dt);

        double deviation = 0.0;
        for (std::size_t i = 0; i < d.time.size(); ++i)
            deviation = std::max(
                deviation, std::fabs(d.response[i] - c[std::size_t(std::lround(d.time[i] / dt))]));
        deviation /= step;
        const Figures f = figuresOf(c, step, 1.0 / dt);
        const QByteArray figures =
            QString::asprintf("deviation %g, overshoot %g / %g, settling %g / %g ms", deviation,
                              d.overshoot, f.overshoot, d.settlingTime * 1e3, f.settling * 1e3)
                .toUtf8();
        // Overshoot within 5 % of it, or 1 % of the step where there is little.
        QVERIFY2(f.settled && d.settled && deviation < 0.05 &&
                     std::fabs(d.overshoot - f.overshoot) < std::max(0.05 * f.overshoot, 0.01) &&
                     near(d.settlingTime, f.settling, 0.05),
                 figures);
        // The output starts at the offset and ends where it holds the step.
        QCOMPARE(d.output.front(), offset);
        QVERIFY(std::fabs(d.output.back() - (offset + step / plant.gain)) < 1e-3);
    }

    void stepFigures_overshootAndSettling()
    {
        // 1 kHz samples: a ramp to 1.2 at 10 ms, back to 1.0 at 20 ms, then
        // within 3 % of the step: overshoot 20 %, inside the 5 % band from 18 ms.
        std::vector<double> r;
        for (int i = 0; i <= 10; ++i)
            r.push_back(0.12 * i);
        for (int i = 1; i <= 10; ++i)
            r.push_back(1.2 - 0.02 * i);
        for (int i = 0; i < 30; ++i)
            r.push_back(i % 2 ? 1.03 : 0.97);
        // The same mirrored for a negative step, from another level, with gaps.
        std::vector<double> mirrored;
        for (double v : r)
            mirrored.push_back(3.0 - v);
        mirrored[5] = mirrored[30] = kNaN;

        for (const auto& [response, step] : {std::pair(r, 1.0), std::pair(mirrored, -1.0)}) {
            const Figures f = figuresOf(response, step, 1000.0);
            QVERIFY(std::fabs(f.overshoot - 0.2) < 1e-12 && f.settled);
            QCOMPARE(f.settling, 18e-3); // sample 17 at 1.06 is the last outside the band
        }
        // Never inside the band: the whole record, not settled, no overshoot.
        Figures f = figuresOf({0.0, 0.2, 0.4, 0.6, 0.8, 0.9}, 1.0, 100.0);
        QVERIFY(f.overshoot == 0.0 && !f.settled && f.settling == 0.05);
        // Leaves the band in its last sample: not settled.
        f = figuresOf({0.0, 1.0, 1.0, 1.1}, 1.0, 100.0);
        QVERIFY(!f.settled && std::fabs(f.overshoot - 0.1) < 1e-12);
        // No step: no figures.
        f = figuresOf(r, 0.0, 1000.0);
        QVERIFY(f.overshoot == 0.0 && !f.settled);
    }

    void virtualBeamline_fitAndClosedLoopAsModelled()
    {
        // A run as the step-response window makes it, on a quiet virtual
        // beamline: the X actuator stepped by 0.1 V, read at BPM 1. The fit
        // finds the beamline model's own constants.
        SimRig rig;
        rig.setDisplayRate(int(kRate), false);
        for (const double volts : {5.1, 5.2, 5.1}) {
            rig.hostOutputs(volts, 5.3, 6.0);
            rig.advance(0.1);
        }
        rig.advance(0.02);
        Run run;
        for (const zevo::DisplayRecord& r : rig.newest(kSamples)) {
            run.response.push_back(r.value[zevo::disp::Bpm1X]);
            run.stimulus.push_back(r.value[zevo::disp::Dac1]);
        }
        const FopdtModel m = fitFopdt(run.response, run.stimulus, kRate);
        QVERIFY2(m.valid && near(m.gain, BeamlineModel::positionGain(0, 0), 0.10) &&
                     near(m.timeConstant, BeamlineModel::lagSeconds(0), 0.10) &&
                     near(m.deadTime, BeamlineModel::deadTimeSeconds(0), 0.10),
                 describe(m));

        // What the prediction promises the virtual controller does: the fitted
        // X loop tuned tight at 1 kHz, a setpoint step of 10 um.
        const double rate = 1000.0, step = 0.01;
        const PidLawParameters p =
            controllerParameters(simcTuning(m, m.deadTime, rate), rate, PidLawParameters());
        const ClosedLoopStep predicted = simulateClosedLoop(m, p, rate, 5.1, step, 0.1);
        MailboxComm& mb = rig.mailbox;
        QCOMPARE(mb.setOutputsFromController(true), 0);
        QCOMPARE(
            mb.setPidParams(zevo::kPidX, p.kp, p.ki, p.kd, p.eMin, p.iMax, p.oMin, p.oMax, p.oGain),
            0);
        mb.applyPidParams(zevo::kPidX);
        mb.setRegulationMode(zevo::MODE_X);
        QCOMPARE(mb.setSetpoints(0.0, 0.0, 50e-6), 0);
        QCOMPARE(mb.setFeedbackEnabled(true), 0);
        rig.advance(0.3);
        QCOMPARE(mb.readPidStatus(), int(zevo::PID_STATUS_ON));
        const double before = rig.last().value[zevo::disp::Bpm1X];
        mb.setSetpointX(step);
        rig.advance(0.1);
        std::vector<double> measured{0.0};
        for (const zevo::DisplayRecord& r : rig.newest(int(0.1 * kRate)))
            measured.push_back(r.value[zevo::disp::Bpm1X] - before);

        const Figures f = figuresOf(measured, step, kRate);
        const QByteArray figures =
            QString::asprintf("overshoot %g predicted %g, settling %g / %g ms", f.overshoot,
                              predicted.overshoot, f.settling * 1e3, predicted.settlingTime * 1e3)
                .toUtf8();
        // The setpoint meets the loop at some phase of its period.
        QVERIFY2(f.settled && predicted.settled &&
                     std::fabs(f.overshoot - predicted.overshoot) < 0.03 &&
                     std::fabs(f.settling - predicted.settlingTime) < 1.0 / rate,
                 figures);
    }

    // Gain, dead time and rise time come out to within a sample, whichever
    // way the response moves and wherever it and the bias sit. A falling
    // response is evaluated negated and flagged; a rising one never is, also
    // below zero with a bias of 0 V, where a comparison of raw products of
    // response and stimulus would call it inverted.
    void firstOrderWithDeadTime_givesItsConstants_data()
    {
        QTest::addColumn<Case>("c");
        QTest::newRow("rising") << Case{5.1, 0.1, 0.3, {0.2, 2.5e-3, 1.0e-3}, false};
        QTest::newRow("falling") << Case{5.3, 0.1, 0.3, {-0.15, 4.0e-3, 1.5e-3}, true};
        QTest::newRow("rising below zero, bias 0 V")
            << Case{0.0, 1.0, -2.0, {0.05, 1.5e-3, 0.5e-3}, false};
        QTest::newRow("falling above zero, bias 0 V")
            << Case{0.0, 1.0, 2.0, {-0.05, 1.5e-3, 0.5e-3}, true};
        QTest::newRow("intensity in amperes")
            << Case{6.0, 0.5, 4e-5, {3e-6, 1.5e-3, 0.5e-3}, false};
    }
    void firstOrderWithDeadTime_givesItsConstants()
    {
        QFETCH(Case, c);
        const auto& [bias, step, baseline, plant, inverted] = c;
        const double gain = std::fabs(plant.gain), size = gain * step;
        const Run p = pulseRun(plant, baseline, step, 1.0, 0.0, bias);
        const StepResponse r = evaluateStepResponse(p.response, p.stimulus, bias, step, kRate);

        QCOMPARE(r.inverted, inverted);
        QCOMPARE(
            (std::vector<double>{double(r.samples), double(r.is), r.du, r.response.front()}),
            (std::vector<double>{kSamples, kStepUp - 1, step, inverted ? -baseline : baseline}));
        QVERIFY2(std::fabs(r.dc - size) < 1e-6 * size && std::fabs(r.gain - gain) < 1e-6 * gain,
                 qPrintable(QString("%1 %2").arg(r.dc).arg(r.gain)));
        // The 10 % level is passed ln(10/9) lags after the dead time, the 90 %
        // level ln 9 lags after that (10-90 % rise time).
        QVERIFY2(std::fabs(r.deadTime - plant.theta - plant.tau * std::log(10.0 / 9.0)) <=
                         kOneSample &&
                     std::fabs(r.settleTime - plant.tau * std::log(9.0)) <= kOneSample,
                 qPrintable(QString("%1 %2 ms").arg(r.deadTime * 1e3).arg(r.settleTime * 1e3)));
        QCOMPARE(r.longest, std::max(r.deadTime, r.settleTime));
    }

    // No step, or a response that does not move: no division by zero, the
    // gain is "not a number" instead of an infinity, every time is finite,
    // and every axis still spans a real interval.
    void zeroStepOrFlatResponse_finiteTimesAndUsableRanges()
    {
        for (const double step : {0.0, 0.1}) { // no step, or the response does not follow
            const Run p = pulseRun({0.0, 2.5e-3, 1e-3}, 0.3, step, 1.0, 0.0, 5.0);
            const StepResponse r = evaluateStepResponse(p.response, p.stimulus, 5.0, step, kRate);
            // The gain not a number without a step, never an infinity; nothing rises.
            QCOMPARE(std::make_tuple(std::isinf(r.gain), std::isnan(r.gain), r.dc,
                                     r.level90 - r.level10, r.i10, r.i90, r.settleTime),
                     std::make_tuple(false, step == 0.0, 0.0, 0.0, kSamples - 1, kSamples, 0.0));
            for (double t : {r.t10, r.t90, r.ts, r.deadTime, r.settleTime})
                QVERIFY(std::isfinite(t));

            const StepResponseView v = stepResponseView(r, 5.0, step);
            for (auto [lower, upper] :
                 {std::pair{v.timeLower, v.timeUpper}, std::pair{v.stimulusLower, v.stimulusUpper},
                  std::pair{v.responseLower, v.responseUpper}}) {
                QVERIFY(std::isfinite(lower) && std::isfinite(upper) && upper > lower);
            }
            QVERIFY(v.responseLower < 0.3 && v.responseUpper > 0.3);
        }
    }

    // Inputs of unequal length are evaluated over the shorter; a stimulus
    // above half the step from the first sample on crosses "before" the
    // record (-1).
    void stepResponse_shortInputs()
    {
        const StepResponse none = evaluateStepResponse({}, {}, 5.0, 0.1, kRate);
        const StepResponse shortOne = evaluateStepResponse({1, 1, 2}, {0, 1}, 0.0, 1.0, kRate);
        const StepResponse early = evaluateStepResponse({1, 1, 2}, {1, 1, 1}, 0.0, 1.0, kRate);
        QCOMPARE(std::make_tuple(none.samples, int(none.response.size()), shortOne.samples,
                                 shortOne.is, early.is, early.ts),
                 std::make_tuple(0, 0, 2, 0, -1, -1.0 / kRate));
    }
};

QTEST_GUILESS_MAIN(TestPidTuning)
#include "tst_pidtuning.moc"
