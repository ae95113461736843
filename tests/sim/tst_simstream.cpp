// What the measurement windows and plots get from the virtual beamline: a
// rocking curve with one peak, a display stream at the asked rate, the
// spectrum lines, positions that follow the channel map, encoder counts.

#include "simrig.h"

#include <QtTest>

#include <complex>
#include <numeric>

namespace
{
// Amplitude of one frequency in a sampled signal, mean removed (the large
// steady currents would leak into every frequency).
double amplitudeAt(const std::vector<double>& x, double hz, double rate)
{
    const double mean = std::accumulate(x.begin(), x.end(), 0.0) / double(x.size());
    std::complex<double> sum = 0;
    const double w = -2 * M_PI * hz / rate;
    for (std::size_t i = 0; i < x.size(); ++i)
        sum += (x[i] - mean) * std::polar(1.0, w * double(i));
    return std::abs(sum) / double(x.size());
}

std::vector<double> field(const std::vector<zevo::DisplayRecord>& r, int f)
{
    std::vector<double> v;
    for (const auto& rec : r)
        v.push_back(rec.value[f]);
    return v;
}

// Noise from record to record; the slow lines hardly change between neighbours.
double rmsOfDifferences(const std::vector<double>& v)
{
    double sumSq = 0;
    for (std::size_t i = 1; i < v.size(); ++i)
        sumSq += (v[i] - v[i - 1]) * (v[i] - v[i - 1]);
    return std::sqrt(sumSq / double(v.size() - 1));
}
} // namespace

class TestSimStream : public QObject
{
    Q_OBJECT

private slots:
    // Across the window the summed current of the two electrodes on the swept
    // axis (X, then Y, the other output at its offset) rises to one peak
    // inside it and falls; their difference changes sign once.
    void rockingCurveHasOnePeakAndCrossingCurrents()
    {
        for (int axis : {0, 1}) {
            SimRig rig;
            const DetectorWiring w = rig.driver.scenario().wiring[0]; // top, right, bottom, left
            const int a = w.channel[axis == 0 ? 3 : 0], b = w.channel[axis == 0 ? 1 : 2];
            const int n = 50;
            std::vector<double> sum, diff;
            for (int i = 0; i < n; ++i) {
                const double v = 4.0 + 2.0 * i / n;
                rig.hostOutputs(axis == 0 ? v : 5.1, axis == 0 ? 5.3 : v, 6.0);
                rig.advance(0.02);
                const zevo::PicoCurrentsRecord c = rig.currents(0);
                sum.push_back(zevo::channelCurrent(c, a) + zevo::channelCurrent(c, b));
                diff.push_back(zevo::channelCurrent(c, b) - zevo::channelCurrent(c, a));
            }
            const int peak = int(std::max_element(sum.begin(), sum.end()) - sum.begin());
            QVERIFY2(peak > 2 && peak < n - 3, qPrintable(QString::number(peak)));
            QVERIFY(sum[peak] > 1.5 * std::min(sum.front(), sum.back()));
            QVERIFY(sum[peak] < 150e-6); // on the rocking-curve window's current axis
            int crossings = 0;
            for (int i = 1; i < n; ++i) {
                QVERIFY(i <= peak ? sum[i] > sum[i - 1] : sum[i] < sum[i - 1]);
                crossings += (diff[i] > 0) != (diff[i - 1] > 0) ? 1 : 0;
            }
            QCOMPARE(crossings, 1);
        }
    }

    void displayRecordsComeAtTheAskedRate_data()
    {
        QTest::addColumn<int>("rate");
        for (int rate : {3000, 50000}) // an uneven divider; a fast stream
            QTest::addRow("%d", rate) << rate;
    }

    void displayRecordsComeAtTheAskedRate()
    {
        QFETCH(int, rate);
        SimRig rig;
        rig.setDisplayRate(rate, false);
        const double actual = 1e8 / std::floor(1e8 / rate);

        const uint64_t n0 = rig.recordsProduced();
        rig.advance(1.0);
        QVERIFY(std::fabs(double(rig.recordsProduced() - n0) - actual) <= 1.0);

        // Two output steps 50 ms apart lie 50 ms worth of records apart.
        rig.hostOutputs(7.0, 5.3, 6.0);
        rig.advance(0.05);
        rig.hostOutputs(3.0, 5.3, 6.0);
        rig.advance(0.01);
        const auto r = rig.newest(int(0.1 * rate));
        auto stepTo = [&r](double volts, auto from) {
            return std::find_if(from, r.end(), [volts](const zevo::DisplayRecord& x) {
                return x.value[zevo::disp::Dac1] == volts;
            });
        };
        const auto up = stepTo(7.0, r.begin()), down = stepTo(3.0, up);
        QVERIFY2(std::fabs(double(down - up) - 0.05 * actual) <= 1.0,
                 qPrintable(QString::number(down - up)));
    }

    void getBufferReturnsTheNewestOldestFirst_stallCatchUpIsBounded()
    {
        SimRig rig;
        rig.setDisplayRate(1000, false);
        // A fresh controller has streamed for a little while only: the older
        // part of a full buffer reads as zeros.
        rig.advance(0.5);
        auto r = rig.newest(2000);
        QCOMPARE(r[0].value[zevo::disp::Bpm1I0], 0.0);
        QVERIFY(r[1999].value[zevo::disp::Bpm1I0] > 0.0);

        // A staircase on output 1, one step per millisecond.
        for (int k = 1; k <= 300; ++k) {
            rig.hostOutputs(k * 0.01, 5.3, 6.0);
            rig.advance(0.001);
        }
        r = rig.newest(200);
        QCOMPARE(r.back().value[zevo::disp::Dac1], 3.0); // the newest is last
        for (std::size_t i = 1; i < r.size(); ++i)
            QVERIFY(r[i].value[zevo::disp::Dac1] > r[i - 1].value[zevo::disp::Dac1]);
        QCOMPARE(
            std::memcmp(rig.newest(50).data(), r.data() + 150, 50 * sizeof(zevo::DisplayRecord)),
            0);

        // One read of the display node, as data saving and the step response
        // do it, gives the same whole buffer.
        const int fd = rig.driver.open(zevo::kDisplayNode, O_RDONLY);
        std::vector<zevo::DisplayRecord> buffer(zevo::kDisplayBufferRecords);
        QCOMPARE(rig.driver.read(fd, buffer.data(), zevo::kDisplayBufferBytes),
                 ssize_t(zevo::kDisplayBufferBytes));
        rig.driver.close(fd);
        QCOMPARE(std::memcmp(buffer.data() + zevo::kDisplayBufferRecords - 200, r.data(),
                             200 * sizeof(zevo::DisplayRecord)),
                 0);

        // After a stall of the GUI thread the controller catches up on a
        // bounded time only, then keeps pace again without a backlog.
        const uint64_t n0 = rig.recordsProduced();
        rig.clock.advanceSeconds(10.0);
        rig.driver.sync();
        QCOMPARE(rig.recordsProduced() - n0, uint64_t(SimDriver::kMaxCatchUpSeconds * 1000));
        rig.advance(0.25);
        QCOMPARE(rig.recordsProduced() - n0, uint64_t(SimDriver::kMaxCatchUpSeconds * 1000 + 250));
    }

    // With noise: the vibration and mains lines stand out of the spectrum,
    // and the filter lowers the noise from record to record.
    void spectrumLinesAndFilteredNoise()
    {
        Scenario s;
        s.driftLevel = 0.0;
        SimRig rig(s);
        rig.setDisplayRate(1000, false);
        rig.advance(5.0);
        const auto r = rig.newest(4096);
        auto lineOverFloor = [](const std::vector<double>& v, double hz) {
            std::vector<double> floor;
            for (double f = 201.3; f < 480; f += 7.1)
                floor.push_back(amplitudeAt(v, f, 1000.0));
            std::sort(floor.begin(), floor.end());
            return amplitudeAt(v, hz, 1000.0) / floor[floor.size() / 2];
        };
        const std::vector<double> x = field(r, zevo::disp::Bpm1X);
        QVERIFY(lineOverFloor(x, 37.0) > 10);
        QVERIFY(lineOverFloor(field(r, zevo::disp::Pico1Ch1), 50.0) > 10);
        QVERIFY(lineOverFloor(x, 43.0) < 3); // nothing where there is no line

        const double raw = rmsOfDifferences(x);
        rig.setDisplayRate(1000, true);
        rig.advance(5.0);
        const double filtered = rmsOfDifferences(field(rig.newest(4096), zevo::disp::Bpm1X));
        QVERIFY2(filtered < raw / 3, qPrintable(QStringLiteral("%1 %2").arg(raw).arg(filtered)));
    }

    // A wrong channel map flips the sign of the coordinate whose electrodes
    // it swaps; a wrong orientation gives nonsense.
    void swappedElectrodesFlipThePosition_orientationMustMatch()
    {
        SimRig rig;
        rig.hostOutputs(5.3, 5.1, 6.0); // beam right of and below the centre
        rig.advance(0.2);
        const double x = rig.last().value[zevo::disp::Bpm1X];
        const double y = rig.last().value[zevo::disp::Bpm1Y];
        QVERIFY(x > 0.03 && y < -0.02);
        // Right and left swapped (channels 4 and 2), then top and bottom instead.
        const struct {
            int map[4];
            double x, y;
        } swaps[] = {{{0, 3, 2, 1}, -x, y}, {{2, 1, 0, 3}, x, -y}};
        for (const auto& w : swaps) {
            rig.mailbox.setBpmChannelMap(w.map[0], w.map[1], w.map[2], w.map[3], 0);
            rig.advance(0.01);
            QVERIFY_NEAR(rig.last().value[zevo::disp::Bpm1X], w.x, 1e-9);
            QVERIFY_NEAR(rig.last().value[zevo::disp::Bpm1Y], w.y, 1e-9);
        }

        // The orientation must match the detector: BPM 1's detector is mounted at 45 degrees and
        // wired out of order.
        Scenario s = SimFixture::quiet();
        s.wiring[0].orientation90 = false;
        s.wiring[0].channel = {2, 0, 3, 1};
        SimRig tilted(s);
        tilted.hostOutputs(5.3, 5.1, 6.0);
        tilted.advance(0.05);
        // The controller powers up knowing the detector.
        const double gx = BeamlineModel::positionGain(0, 0), gy = BeamlineModel::positionGain(0, 1);
        QVERIFY_NEAR(tilted.last().value[zevo::disp::Bpm1X], gx * 0.2, 0.02 * gx * 0.2);
        QVERIFY(tilted.last().value[zevo::disp::Bpm1Y] < -0.5 * gy * 0.2);

        // Told that it is a 90 degree detector, the controller computes nonsense.
        tilted.mailbox.setBpmOrientation(1, 0);
        tilted.advance(0.01);
        QVERIFY(std::fabs(tilted.last().value[zevo::disp::Bpm1X] - gx * 0.2) > 0.5 * gx * 0.2);
    }

    // An encoder interface: counts and inverted counts of both actuators,
    // and BPM 1's position made of them, centred by the power-up offsets.
    void encoderCountsFollowTheActuators()
    {
        Scenario s = SimFixture::quiet();
        s.setSecondPicoPlugged(false);
        s.setEncoderPlugged(true);
        SimRig rig(s);
        rig.hostOutputs(BeamlineModel::centreVolts(0, 0) + 0.5, BeamlineModel::centreVolts(0, 1),
                        6.0);
        rig.advance(0.1);
        const zevo::DisplayRecord r = rig.last();
        const double counts = 0.5 * BeamlineModel::kEncoderCountsPerVolt;
        const double x = BeamlineModel::kEncoderCentre + counts, y = BeamlineModel::kEncoderCentre;
        const double* ch = r.value + zevo::disp::Pico1Ch1;
        QCOMPARE(QVector<double>(ch, ch + 4),
                 QVector<double>({x, y, 4294967295.0 - x, 4294967295.0 - y}));
        QVERIFY_NEAR(r.value[zevo::disp::Bpm1X], counts / 2147483648.0, 1e-12);
        QVERIFY_NEAR(r.value[zevo::disp::Bpm1Y], 0.0, 1e-12);
        // The picoammeter still measures the intensity; the second one is gone.
        QVERIFY(r.value[zevo::disp::Bpm1I0] > 1e-6);
        QCOMPARE(r.value[zevo::disp::Bpm2I0], 0.0);
    }
};

QTEST_GUILESS_MAIN(TestSimStream)
#include "tst_simstream.moc"
