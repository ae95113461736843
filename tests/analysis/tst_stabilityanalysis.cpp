// The beam stability figures on synthetic signals whose answer is known: the
// RMS of a sine's line, Parseval's theorem for the integrated RMS, the flat
// density of white noise, bands that split bins and lines on their edges,
// and lines that merge.

#include "analysis/realfft.h"
#include "analysis/stabilityanalysis.h"

#include <QtTest>

#include <cmath>
#include <random>
#include <vector>

namespace
{
constexpr double kRate = 1000.0;
constexpr int kSamples = 14336; // the display buffer's default length

struct Tone {
    double hz, amplitude;
};

// Sines plus Gaussian noise of standard deviation `noise`, fixed seed.
std::vector<double> signal(const std::vector<Tone>& tones, double noise, int n = kSamples)
{
    std::mt19937 random(7);
    std::normal_distribution<double> gauss(0.0, noise > 0 ? noise : 1.0);
    std::vector<double> x(std::size_t(n), 0.0);
    for (int i = 0; i < n; ++i) {
        for (const Tone& t : tones)
            x[std::size_t(i)] += t.amplitude * std::sin(2 * M_PI * t.hz * i / kRate + 0.3);
        if (noise > 0)
            x[std::size_t(i)] += gauss(random);
    }
    return x;
}

double standardDeviation(const std::vector<double>& x)
{
    double mean = 0.0, sum = 0.0;
    for (double v : x)
        mean += v / double(x.size());
    for (double v : x)
        sum += (v - mean) * (v - mean);
    return std::sqrt(sum / double(x.size()));
}
} // namespace

Q_DECLARE_METATYPE(std::vector<Tone>)

class TestStabilityAnalysis : public QObject
{
    Q_OBJECT

    RealFft fft;

    stability::Spectrum spectrumOf(const std::vector<double>& x)
    {
        return stability::welch(x.data(), int(x.size()), kRate, fft);
    }

private slots:
    void sineGivesLineOfItsRms_data()
    {
        QTest::addColumn<double>("hz");
        QTest::addColumn<double>("amplitude");
        QTest::newRow("on a bin") << 37.109375 << 2.0;
        QTest::newRow("between bins") << 37.0 << 2.0;
        QTest::newRow("small, low") << 3.3 << 0.05;
        QTest::newRow("near Nyquist") << 480.7 << 1.0;
    }
    void sineGivesLineOfItsRms()
    {
        QFETCH(double, hz);
        QFETCH(double, amplitude);
        const stability::Spectrum s = spectrumOf(signal({{hz, amplitude}}, 0.001));
        QCOMPARE(s.segmentLength, 4096);
        QCOMPARE(s.segments, 6);
        const auto lines = stability::strongestLines(s);
        QVERIFY(!lines.empty());
        QVERIFY2(std::abs(lines[0].frequency - hz) < s.binWidth,
                 qPrintable(QString::number(lines[0].frequency)));
        const double expected = amplitude / std::sqrt(2.0);
        QVERIFY2(std::abs(lines[0].rms / expected - 1.0) < 0.02,
                 qPrintable(QString::number(lines[0].rms / expected)));
    }

    // Integrated RMS over the whole spectrum = standard deviation of the
    // samples; also with a slow drift that the segments' means do not remove.
    void totalRmsIsStandardDeviation_data()
    {
        QTest::addColumn<std::vector<Tone>>("tones");
        QTest::newRow("lines and noise") << std::vector<Tone>{{37, 1.0}, {50, 0.3}, {150, 0.1}};
        QTest::newRow("slow motion") << std::vector<Tone>{{0.9, 1.0}, {12.2, 0.5}};
    }
    void totalRmsIsStandardDeviation()
    {
        QFETCH(std::vector<Tone>, tones);
        const std::vector<double> x = signal(tones, 0.2);
        const stability::Spectrum s = spectrumOf(x);
        const double ratio = s.totalRms() / standardDeviation(x);
        QVERIFY2(std::abs(ratio - 1.0) < 0.01, qPrintable(QString::number(ratio)));
        // The bands from 0 up cover the same.
        QCOMPARE(stability::bandRms(s, 0.0, std::numeric_limits<double>::infinity()), s.totalRms());
    }

    void whiteNoiseGivesFlatDensity()
    {
        const double sigma = 3.0;
        const stability::Spectrum s = spectrumOf(signal({}, sigma, 8 * kSamples));
        double mean = 0.0;
        const std::size_t bins = s.density.size();
        for (std::size_t k = 1; k + 1 < bins; ++k)
            mean += s.density[k] / double(bins - 2);
        const double level = 2 * sigma * sigma / kRate;
        QVERIFY2(std::abs(mean / level - 1.0) < 0.05, qPrintable(QString::number(mean / level)));
        // And flat: the lower and the upper half agree.
        const double low = stability::bandRms(s, 0, 250), high = stability::bandRms(s, 250, 500);
        QVERIFY2(std::abs(low / high - 1.0) < 0.05, qPrintable(QString::number(low / high)));
    }

    // Each frequency in one band: the bands' variances add up to the total
    // wherever the edges fall, and a line exactly on an edge is shared out,
    // not counted in both bands.
    void bandsSplitBinsOnce_data()
    {
        QTest::addColumn<double>("edge");
        QTest::newRow("on the line's bin") << 37.109375;
        QTest::newRow("between bins") << 37.2;
        QTest::newRow("a quarter bin off") << 37.109375 + 0.061;
    }
    void bandsSplitBinsOnce()
    {
        QFETCH(double, edge);
        const double amplitude = 2.0;
        const stability::Spectrum s = spectrumOf(signal({{37.109375, amplitude}}, 0.01));
        const std::vector<double> bands = stability::bandRms(s, {0.1, 10.0, edge, 100.0});
        double variance = 0.0;
        for (double b : bands)
            variance += b * b;
        const double rest = stability::bandRms(s, 0.0, 0.1);
        QVERIFY(std::abs(std::sqrt(variance + rest * rest) / s.totalRms() - 1.0) < 1e-12);
        const double line = amplitude / std::sqrt(2.0);
        const double shared = std::hypot(bands[1], bands[2]);
        QVERIFY2(std::abs(shared / line - 1.0) < 0.02, qPrintable(QString::number(shared / line)));
        QVERIFY(bands[1] < 0.99 * line && bands[2] < 0.99 * line);
    }

    void closeMaximaMergeIntoOneLine()
    {
        const double bin = kRate / 4096;
        // Two bins apart: one line; six bins apart: two.
        const stability::Spectrum close =
            spectrumOf(signal({{100 * bin, 1.0}, {102 * bin, 1.0}}, 0.001));
        const auto merged = stability::strongestLines(close);
        QCOMPARE(int(merged.size()), 1);
        QVERIFY(std::abs(merged[0].frequency - 101 * bin) < bin);
        // Both sines' power, give or take their interference in the windows.
        QVERIFY2(std::abs(merged[0].rms - 1.0) < 0.05, qPrintable(QString::number(merged[0].rms)));

        const auto apart = stability::strongestLines(
            spectrumOf(signal({{100 * bin, 1.0}, {106 * bin, 0.5}}, 0.001)));
        QCOMPARE(int(apart.size()), 2);
        QVERIFY(std::abs(apart[0].frequency - 100 * bin) < bin);
        QVERIFY(std::abs(apart[1].rms - 0.5 / std::sqrt(2.0)) < 0.01);
    }

    void atMostTenStrongestFirst()
    {
        std::vector<Tone> tones;
        for (int k = 1; k <= 12; ++k)
            tones.push_back({30.0 * k + 1.3, 0.1 * k});
        const auto lines = stability::strongestLines(spectrumOf(signal(tones, 0.001)));
        QCOMPARE(int(lines.size()), 10);
        QVERIFY(std::abs(lines[0].frequency - tones.back().hz) < 0.3);
        QVERIFY(std::abs(lines[9].frequency - tones[2].hz) < 0.3);
    }

    void unusableInputGivesNoSpectrum()
    {
        std::vector<double> x = signal({{10, 1}}, 0.1, 100);
        QVERIFY(!stability::welch(x.data(), 15, kRate, fft).valid());
        QVERIFY(!stability::welch(x.data(), 100, 0.0, fft).valid());
        x[50] = std::nan("");
        QVERIFY(!stability::welch(x.data(), 100, kRate, fft).valid());
        QVERIFY(stability::strongestLines(stability::Spectrum()).empty());
        QCOMPARE(stability::bandRms(stability::Spectrum(), {1.0}), std::vector<double>{0.0});
    }

    // One plan per length, made once and reused.
    void plansAreKeptPerLength()
    {
        RealFft own;
        const std::vector<double> x = signal({{10, 1}}, 0.1);
        for (int i = 0; i < 3; ++i)
            stability::welch(x.data(), int(x.size()), kRate, own);
        QCOMPARE(own.planCount(), 1);
        stability::welch(x.data(), 1024, kRate, own);
        QCOMPARE(own.planCount(), 2);
        QVERIFY(!own.input(1));
    }
};

QTEST_APPLESS_MAIN(TestStabilityAnalysis)
#include "tst_stabilityanalysis.moc"
