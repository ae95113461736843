// The step-response evaluation on synthetic responses of a first-order lag
// behind a dead time, whose gain, dead time and rise time are known exactly.

#include "analysis/stepresponse.h"

#include <QtTest>

#include <cmath>
#include <limits>
#include <vector>

namespace
{
constexpr double kRate = 50000.0;
constexpr int kSamples = 14335;
// Where the stimulus steps up and down, as in a run: 66.7 ms of bias in the
// buffer, 100 ms of step, the rest back at the bias.
constexpr int kStepUp = 3333;
constexpr int kStepDown = kStepUp + 5000;

struct Pulse {
    std::vector<double> response, stimulus;
};

// Response of baseline + gain * (lag behind a dead time) to a rectangular
// pulse of the stimulus from bias to bias + step, sampled at kRate.
Pulse pulse(double bias, double step, double baseline, double gain, double dead, double lag)
{
    Pulse p;
    const auto rise = [&](double since) {
        return since <= 0.0 ? 0.0 : 1.0 - std::exp(-since / lag);
    };
    for (int i = 0; i < kSamples; ++i) {
        const double t = i / kRate;
        const double up = kStepUp / kRate + dead, down = kStepDown / kRate + dead;
        p.stimulus.push_back(i >= kStepUp && i < kStepDown ? bias + step : bias);
        p.response.push_back(baseline + gain * step * (rise(t - up) - rise(t - down)));
    }
    return p;
}

// The evaluation's own definitions for a lag behind a dead time: the 10 %
// level is passed ln(10/9) lags after the dead time, the 90 % level ln 9
// lags after that (10-90 % rise time).
double expectedDeadTime(double dead, double lag)
{
    return dead + lag * std::log(10.0 / 9.0);
}
double expectedRiseTime(double lag)
{
    return lag * std::log(9.0);
}

constexpr double kOneSample = 1.0 / kRate;
} // namespace

class TestStepResponse : public QObject
{
    Q_OBJECT

private slots:
    // Gain, dead time and rise time come out to within a sample, whichever
    // way the response moves and wherever it and the bias sit. A falling
    // response is evaluated negated and flagged; a rising one never is, also
    // below zero with a bias of 0 V, where a comparison of raw products of
    // response and stimulus would call it inverted.
    void firstOrderWithDeadTime_givesItsConstants_data()
    {
        QTest::addColumn<double>("bias");
        QTest::addColumn<double>("step");
        QTest::addColumn<double>("baseline");
        QTest::addColumn<double>("gain");
        QTest::addColumn<double>("dead");
        QTest::addColumn<double>("lag");
        QTest::addColumn<bool>("inverted");
        QTest::newRow("rising") << 5.1 << 0.1 << 0.3 << 0.2 << 1.0e-3 << 2.5e-3 << false;
        QTest::newRow("falling") << 5.3 << 0.1 << 0.3 << -0.15 << 1.5e-3 << 4.0e-3 << true;
        QTest::newRow("rising below zero, bias 0 V")
            << 0.0 << 1.0 << -2.0 << 0.05 << 0.5e-3 << 1.5e-3 << false;
        QTest::newRow("falling above zero, bias 0 V")
            << 0.0 << 1.0 << 2.0 << -0.05 << 0.5e-3 << 1.5e-3 << true;
        QTest::newRow("intensity in amperes")
            << 6.0 << 0.5 << 4e-5 << 3e-6 << 0.5e-3 << 1.5e-3 << false;
    }
    void firstOrderWithDeadTime_givesItsConstants()
    {
        QFETCH(double, bias);
        QFETCH(double, step);
        QFETCH(double, baseline);
        QFETCH(double, gain);
        QFETCH(double, dead);
        QFETCH(double, lag);
        QFETCH(bool, inverted);
        const Pulse p = pulse(bias, step, baseline, gain, dead, lag);
        const StepResponse r = evaluateStepResponse(p.response, p.stimulus, bias, step, kRate);

        QCOMPARE(r.samples, kSamples);
        QCOMPARE(r.inverted, inverted);
        QCOMPARE(r.response.front(), inverted ? -baseline : baseline);
        QCOMPARE(r.du, step);
        const double size = std::fabs(gain) * step;
        QVERIFY2(std::fabs(r.dc - size) < 1e-6 * size, qPrintable(QString::number(r.dc)));
        QVERIFY(std::fabs(r.gain - std::fabs(gain)) < 1e-6 * std::fabs(gain));
        QCOMPARE(r.is, kStepUp - 1);
        QVERIFY2(std::fabs(r.deadTime - expectedDeadTime(dead, lag)) <= kOneSample,
                 qPrintable(QString::number(r.deadTime * 1e3)));
        QVERIFY2(std::fabs(r.settleTime - expectedRiseTime(lag)) <= kOneSample,
                 qPrintable(QString::number(r.settleTime * 1e3)));
        QCOMPARE(r.longest, std::max(r.deadTime, r.settleTime));
    }

    // The plot's ranges and markers follow the evaluation: the time axis from
    // a fifth of the longer time before the stimulus crossing to that time
    // after the 90 % crossing; stimulus and response axes from a fifth of the
    // step below to 1.2 steps above where they start.
    void ranges_frameStimulusResponseAndTimes()
    {
        const Pulse p = pulse(5.0, 0.5, 0.3, 0.2, 1e-3, 2.5e-3);
        const StepResponse r = evaluateStepResponse(p.response, p.stimulus, 5.0, 0.5, kRate);
        const StepResponseView v = stepResponseView(r, 5.0, 0.5);
        QCOMPARE(r.longest, r.settleTime);
        QCOMPARE(v.timeLower, r.ts - 0.2 * r.settleTime);
        QCOMPARE(v.timeUpper, r.t90 + r.settleTime);
        QCOMPARE(v.stimulusLower, 4.9);
        QCOMPARE(v.stimulusUpper, 5.6);
        QCOMPARE(v.responseLower, r.low - 0.2 * r.dc);
        QCOMPARE(v.responseUpper, r.low + 1.2 * r.dc);
        QCOMPARE(v.markerLevel, r.low - 0.1 * r.dc);
        QCOMPARE(v.dcArrowTime, r.t90 + 0.3 * r.settleTime);
    }

    // No step, or a response that does not move: no division by zero, the
    // gain is "not a number" instead of an infinity, every time is finite,
    // and every axis still spans a real interval.
    void zeroStepOrFlatResponse_finiteTimesAndUsableRanges_data()
    {
        QTest::addColumn<double>("step");
        QTest::addColumn<double>("gain");
        QTest::newRow("zero step") << 0.0 << 0.2;
        QTest::newRow("flat response") << 0.1 << 0.0;
        QTest::newRow("both") << 0.0 << 0.0;
    }
    void zeroStepOrFlatResponse_finiteTimesAndUsableRanges()
    {
        QFETCH(double, step);
        QFETCH(double, gain);
        const Pulse p = pulse(5.0, step, 0.3, gain, 1e-3, 2.5e-3);
        const StepResponse r = evaluateStepResponse(p.response, p.stimulus, 5.0, step, kRate);
        QVERIFY(!std::isinf(r.gain));
        QCOMPARE(std::isnan(r.gain), step == 0.0);
        QCOMPARE(r.dc, 0.0);
        QCOMPARE(r.level10, r.level90);
        for (double t : {r.t10, r.t90, r.ts, r.deadTime, r.settleTime})
            QVERIFY(std::isfinite(t));
        QCOMPARE(r.i10, kSamples - 1); // nothing rises above its level
        QCOMPARE(r.i90, kSamples);
        QCOMPARE(r.settleTime, 0.0);

        const StepResponseView v = stepResponseView(r, 5.0, step);
        for (auto [lower, upper] :
             {std::pair{v.timeLower, v.timeUpper}, std::pair{v.stimulusLower, v.stimulusUpper},
              std::pair{v.responseLower, v.responseUpper}}) {
            QVERIFY(std::isfinite(lower) && std::isfinite(upper));
            QVERIFY(upper > lower);
        }
        QVERIFY(v.responseLower < 0.3 && v.responseUpper > 0.3);
    }

    // A detector without current delivers samples that are not numbers; they
    // take no part in the levels (they cannot be ordered) nor in the
    // crossings, and the rest is evaluated as before. Inputs of unequal
    // length are evaluated over the shorter; a stimulus above half the step
    // from the first sample on crosses "before" the record (-1).
    void notNumbersAndShortInputs_evaluatedSoundly()
    {
        Pulse p = pulse(5.0, 0.1, 0.3, 0.2, 1e-3, 2.5e-3);
        const StepResponse clean = evaluateStepResponse(p.response, p.stimulus, 5.0, 0.1, kRate);
        for (int i = 0; i < kSamples; i += 97)
            p.response[std::size_t(i)] = std::numeric_limits<double>::quiet_NaN();
        p.response[5] = std::numeric_limits<double>::infinity();
        const StepResponse r = evaluateStepResponse(p.response, p.stimulus, 5.0, 0.1, kRate);
        QVERIFY(std::fabs(r.low - clean.low) < 1e-9 && std::fabs(r.high - clean.high) < 1e-6);
        QVERIFY(std::fabs(r.deadTime - clean.deadTime) <= kOneSample);

        const StepResponse none = evaluateStepResponse({}, {}, 5.0, 0.1, kRate);
        QCOMPARE(none.samples, 0);
        QVERIFY(none.response.empty());
        const StepResponse shortOne =
            evaluateStepResponse({1.0, 1.0, 2.0}, {0.0, 1.0}, 0.0, 1.0, kRate);
        QCOMPARE(shortOne.samples, 2);
        QCOMPARE(shortOne.is, 0);
        const StepResponse early =
            evaluateStepResponse({1.0, 1.0, 2.0}, {1.0, 1.0, 1.0}, 0.0, 1.0, kRate);
        QCOMPARE(early.is, -1);
        QCOMPARE(early.ts, -1.0 / kRate);
    }
};

QTEST_APPLESS_MAIN(TestStepResponse)
#include "tst_stepresponse.moc"
