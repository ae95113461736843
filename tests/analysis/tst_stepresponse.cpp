// The step-response evaluation on synthetic responses of a first-order lag
// behind a dead time, whose gain, dead time and rise time are known exactly.

#include "analysis/stepresponse.h"
#include "pulserun.h"

#include <QtTest>

#include <limits>

namespace
{
// The response of baseline + gain * (lag behind a dead time) to a pulse of
// the stimulus from bias to bias + step, stepping exactly at its sample.
Run pulse(double bias, double step, double baseline, const Plant& plant)
{
    return pulseRun(plant, baseline, step, 1.0, 0.0, bias);
}
constexpr double kOneSample = 1.0 / kRate;

struct Case {
    double bias, step, baseline;
    Plant plant;
    bool inverted;
};
} // namespace

Q_DECLARE_METATYPE(Case)

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
        const Run p = pulse(bias, step, baseline, plant);
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
        const Run p = pulse(5.0, step, 0.3, {gain, 2.5e-3, 1e-3});
        const StepResponse r = evaluateStepResponse(p.response, p.stimulus, 5.0, step, kRate);
        QVERIFY(!std::isinf(r.gain));
        QCOMPARE(std::isnan(r.gain), step == 0.0);
        QCOMPARE(r.dc, 0.0);
        QCOMPARE(r.level10, r.level90);
        for (double t : {r.t10, r.t90, r.ts, r.deadTime, r.settleTime})
            QVERIFY(std::isfinite(t));
        QCOMPARE(std::make_pair(r.i10, r.i90),
                 std::make_pair(kSamples - 1, kSamples)); // nothing rises
        QCOMPARE(r.settleTime, 0.0);

        const StepResponseView v = stepResponseView(r, 5.0, step);
        for (auto [lower, upper] :
             {std::pair{v.timeLower, v.timeUpper}, std::pair{v.stimulusLower, v.stimulusUpper},
              std::pair{v.responseLower, v.responseUpper}}) {
            QVERIFY(std::isfinite(lower) && std::isfinite(upper) && upper > lower);
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
        Run p = pulse(5.0, 0.1, 0.3, {0.2, 2.5e-3, 1e-3});
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
