// What the measurement windows and plots get from the virtual beamline: a
// rocking curve with one peak, a display stream at the asked rate, the
// spectrum lines, positions that follow the channel map, encoder counts.

#include "simrig.h"

#include <QtTest>

#include <complex>

namespace
{
// Amplitude of one frequency in a sampled signal, mean removed (the large
// steady currents would leak into every frequency).
double amplitudeAt(const std::vector<double>& x, double hz, double rate)
{
    double mean = 0;
    for (double v : x)
        mean += v / double(x.size());
    std::complex<double> sum = 0;
    const double w = -2 * M_PI * hz / rate;
    for (std::size_t i = 0; i < x.size(); ++i)
        sum += (x[i] - mean) * std::polar(1.0, w * double(i));
    return std::abs(sum) / double(x.size());
}

std::vector<double> field(const std::vector<zevo::DisplayRecord>& r, int f)
{
    std::vector<double> v;
    v.reserve(r.size());
    for (const auto& rec : r)
        v.push_back(rec.value[f]);
    return v;
}

double stdOfDifferences(const std::vector<double>& v)
{
    double sum = 0, sumSq = 0;
    for (std::size_t i = 1; i < v.size(); ++i) {
        const double d = v[i] - v[i - 1];
        sum += d;
        sumSq += d * d;
    }
    const double n = double(v.size() - 1);
    return std::sqrt(sumSq / n - (sum / n) * (sum / n));
}

// The host takes the outputs, as the measurement windows do.
void hostTakesOutputs(SimRig& rig)
{
    rig.mailbox.setFeedbackEnabled(false);
    rig.mailbox.setOutputsFromController(false);
}
} // namespace

class TestSimStream : public QObject
{
    Q_OBJECT

private slots:
    void rockingCurveHasOnePeakAndCrossingCurrents_data();
    void rockingCurveHasOnePeakAndCrossingCurrents();
    void rockingSurfacePeaksInsideTheWindow();
    void displayRecordsComeAtTheAskedRate_data();
    void displayRecordsComeAtTheAskedRate();
    void getBufferReturnsTheNewestOldestFirst();
    void filterLowersTheNoise();
    void spectrumShowsVibrationAndMains();
    void swappedElectrodesFlipThePosition();
    void orientationMustMatchTheDetector();
    void stallCatchUpIsBounded();
    void encoderCountsFollowTheActuators();
};

void TestSimStream::rockingCurveHasOnePeakAndCrossingCurrents_data()
{
    QTest::addColumn<double>("heldY");
    QTest::newRow("Y at its offset") << 5.3;
    QTest::newRow("Y at 0 V") << 0.0;
}

void TestSimStream::rockingCurveHasOnePeakAndCrossingCurrents()
{
    QFETCH(double, heldY);
    SimRig rig;
    hostTakesOutputs(rig);
    const DetectorWiring w = rig.driver.scenario().wiring[0];
    const int left = w.channel[3], right = w.channel[1];

    const int n = 50;
    std::vector<double> sum, diff;
    for (int i = 0; i < n; ++i) {
        rig.hostOutputs(4.0 + 2.0 * i / n, heldY, 6.0);
        rig.advance(0.02);
        const zevo::PicoCurrentsRecord c = rig.currents(0);
        const double a = zevo::channelCurrent(c, left), b = zevo::channelCurrent(c, right);
        sum.push_back(a + b);
        diff.push_back(b - a);
    }
    const int peak = int(std::max_element(sum.begin(), sum.end()) - sum.begin());
    QVERIFY2(peak > 2 && peak < n - 3, qPrintable(QString::number(peak)));
    for (int i = 1; i <= peak; ++i)
        QVERIFY(sum[i] > sum[i - 1]);
    for (int i = peak + 1; i < n; ++i)
        QVERIFY(sum[i] < sum[i - 1]);
    QVERIFY(sum[peak] > 1.5 * std::min(sum.front(), sum.back()));
    QVERIFY(sum[peak] < 150e-6); // on the rocking-curve window's current axis

    int crossings = 0;
    for (int i = 1; i < n; ++i)
        crossings += (diff[i] > 0) != (diff[i - 1] > 0) ? 1 : 0;
    QCOMPARE(crossings, 1);
}

void TestSimStream::rockingSurfacePeaksInsideTheWindow()
{
    SimRig rig;
    hostTakesOutputs(rig);
    const int n = 9;
    double best = -1;
    int bi = -1, bj = -1;
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            rig.hostOutputs(4.0 + 2.0 * i / (n - 1), 4.0 + 2.0 * j / (n - 1), 0.0);
            rig.advance(0.03);
            const zevo::PicoCurrentsRecord c = rig.currents(0);
            const double total = c.current[0] + c.current[1] + c.current[2] + c.current[3];
            if (total > best) {
                best = total;
                bi = i;
                bj = j;
            }
        }
    }
    QVERIFY2(bi > 0 && bi < n - 1 && bj > 0 && bj < n - 1,
             qPrintable(QStringLiteral("%1 %2").arg(bi).arg(bj)));
}

void TestSimStream::displayRecordsComeAtTheAskedRate_data()
{
    QTest::addColumn<int>("rate");
    QTest::newRow("1000") << 1000;
    QTest::newRow("3000") << 3000;
    QTest::newRow("50000") << 50000;
}

void TestSimStream::displayRecordsComeAtTheAskedRate()
{
    QFETCH(int, rate);
    SimRig rig;
    hostTakesOutputs(rig);
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
    std::size_t up = 0, down = 0;
    while (r[up].value[zevo::disp::Dac1] != 7.0)
        ++up;
    down = up;
    while (r[down].value[zevo::disp::Dac1] != 3.0)
        ++down;
    QVERIFY2(std::fabs(double(down - up) - 0.05 * actual) <= 1.0,
             qPrintable(QString::number(down - up)));
}

void TestSimStream::getBufferReturnsTheNewestOldestFirst()
{
    SimRig rig;
    hostTakesOutputs(rig);
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
    const auto tail = rig.newest(50);
    QCOMPARE(std::memcmp(tail.data(), r.data() + 150, 50 * sizeof(zevo::DisplayRecord)), 0);

    // One read of the display node gives the same whole buffer.
    const int fd = rig.driver.open(zevo::kDisplayNode, O_RDONLY);
    std::vector<zevo::DisplayRecord> buffer(zevo::kDisplayBufferRecords);
    QCOMPARE(rig.driver.read(fd, buffer.data(), zevo::kDisplayBufferBytes),
             ssize_t(zevo::kDisplayBufferBytes));
    rig.driver.close(fd);
    QCOMPARE(std::memcmp(buffer.data() + zevo::kDisplayBufferRecords - 200, r.data(),
                         200 * sizeof(zevo::DisplayRecord)),
             0);
}

void TestSimStream::filterLowersTheNoise()
{
    Scenario s;
    s.driftLevel = 0.0;
    SimRig rig(s);
    rig.setDisplayRate(1000, false);
    rig.advance(2.0);
    const double raw = stdOfDifferences(field(rig.newest(2000), zevo::disp::Bpm1X));
    rig.setDisplayRate(1000, true);
    rig.advance(2.0);
    const double filtered = stdOfDifferences(field(rig.newest(2000), zevo::disp::Bpm1X));
    QVERIFY2(filtered < raw / 3, qPrintable(QStringLiteral("%1 %2").arg(raw).arg(filtered)));
}

void TestSimStream::spectrumShowsVibrationAndMains()
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
    const std::vector<double> ch = field(r, zevo::disp::Pico1Ch1);
    QVERIFY(lineOverFloor(x, 37.0) > 10);
    QVERIFY(lineOverFloor(ch, 50.0) > 10);
    QVERIFY(lineOverFloor(x, 43.0) < 3); // nothing where there is no line
}

void TestSimStream::swappedElectrodesFlipThePosition()
{
    SimRig rig;
    hostTakesOutputs(rig);
    rig.hostOutputs(5.3, 5.1, 6.0); // beam right of and below the centre
    rig.advance(0.2);
    const double x = rig.newest(1)[0].value[zevo::disp::Bpm1X];
    const double y = rig.newest(1)[0].value[zevo::disp::Bpm1Y];
    QVERIFY(x > 0.03);
    QVERIFY(y < -0.02);

    // Left and right swapped (channels 2 and 4 for right and left).
    rig.mailbox.setBpmChannelMap(0, 3, 2, 1, 0);
    rig.advance(0.01);
    auto r = rig.newest(1)[0];
    QVERIFY(std::fabs(r.value[zevo::disp::Bpm1X] + x) < 1e-9);
    QVERIFY(std::fabs(r.value[zevo::disp::Bpm1Y] - y) < 1e-9);

    // Top and bottom swapped instead.
    rig.mailbox.setBpmChannelMap(2, 1, 0, 3, 0);
    rig.advance(0.01);
    r = rig.newest(1)[0];
    QVERIFY(std::fabs(r.value[zevo::disp::Bpm1X] - x) < 1e-9);
    QVERIFY(std::fabs(r.value[zevo::disp::Bpm1Y] + y) < 1e-9);
}

void TestSimStream::orientationMustMatchTheDetector()
{
    // BPM 1's detector is mounted at 45 degrees and wired out of order.
    Scenario s = SimRig::quiet();
    s.wiring[0].orientation90 = false;
    s.wiring[0].channel = {2, 0, 3, 1};
    SimRig rig(s);
    hostTakesOutputs(rig);
    rig.hostOutputs(5.3, 5.1, 6.0);
    rig.advance(0.05);
    // The controller powers up knowing the detector.
    const double gx = BeamlineModel::positionGain(0, 0), gy = BeamlineModel::positionGain(0, 1);
    auto r = rig.newest(1)[0];
    QVERIFY(std::fabs(r.value[zevo::disp::Bpm1X] - gx * 0.2) < 0.02 * gx * 0.2);
    QVERIFY(r.value[zevo::disp::Bpm1Y] < -0.5 * gy * 0.2);

    // Told that it is a 90 degree detector, the controller computes nonsense.
    rig.mailbox.setBpmOrientation(1, 0);
    rig.advance(0.01);
    r = rig.newest(1)[0];
    QVERIFY(std::fabs(r.value[zevo::disp::Bpm1X] - gx * 0.2) > 0.5 * gx * 0.2);
}

void TestSimStream::stallCatchUpIsBounded()
{
    SimRig rig;
    rig.advance(0.1);
    const uint64_t n0 = rig.recordsProduced();
    rig.clock.advanceSeconds(10.0); // the GUI thread was blocked
    rig.driver.sync();
    QCOMPARE(rig.recordsProduced() - n0, uint64_t(SimDriver::kMaxCatchUpSeconds * 1000));
    // Afterwards it keeps pace again, without a backlog.
    rig.advance(0.25);
    QCOMPARE(rig.recordsProduced() - n0, uint64_t(SimDriver::kMaxCatchUpSeconds * 1000 + 250));
}

void TestSimStream::encoderCountsFollowTheActuators()
{
    Scenario s = SimRig::quiet();
    s.setSecondPicoPlugged(false);
    s.setEncoderPlugged(true);
    SimRig rig(s);
    hostTakesOutputs(rig);
    rig.hostOutputs(BeamlineModel::centreVolts(0, 0), BeamlineModel::centreVolts(0, 1), 6.0);
    rig.advance(0.1);
    auto r = rig.newest(1)[0];
    QCOMPARE(r.value[zevo::disp::Pico1Ch1], BeamlineModel::kEncoderCentre);
    QCOMPARE(r.value[zevo::disp::Pico1Ch1 + 2], 4294967295.0 - BeamlineModel::kEncoderCentre);
    QVERIFY(std::fabs(r.value[zevo::disp::Bpm1X]) < 1e-9); // centred by the power-up offsets

    rig.hostOutputs(BeamlineModel::centreVolts(0, 0) + 0.5, BeamlineModel::centreVolts(0, 1), 6.0);
    rig.advance(0.1);
    r = rig.newest(1)[0];
    const double counts = 0.5 * BeamlineModel::kEncoderCountsPerVolt;
    QCOMPARE(r.value[zevo::disp::Pico1Ch1], BeamlineModel::kEncoderCentre + counts);
    QCOMPARE(r.value[zevo::disp::Pico1Ch1 + 1], BeamlineModel::kEncoderCentre);
    QVERIFY(std::fabs(r.value[zevo::disp::Bpm1X] - counts / 2147483648.0) < 1e-12);
    // The picoammeter still measures the intensity; the second one is gone.
    QVERIFY(r.value[zevo::disp::Bpm1I0] > 1e-6);
    QCOMPARE(r.value[zevo::disp::Bpm2I0], 0.0);
}

QTEST_GUILESS_MAIN(TestSimStream)
#include "tst_simstream.moc"
