// The arithmetic of the rocking-curve scans without any widget: the grid of
// points, the output set of each point and the percent done; the 3D scan's
// voltages, its normalised grid, and the quads of the surface with the colour
// of their mean height (the scan's 63 x 63 quads drawn blue when flat and red
// at the peak are tst_graph3d's).

#include "analysis/rockingscan.h"
#include "analysis/surfacegrid.h"

#include <QtTest>

#include <cmath>
#include <limits>
#include <vector>

using namespace surfacegrid;

namespace
{
const float kNaN = std::numeric_limits<float>::quiet_NaN();

bool sameColour(SurfaceColour c, float r, float g, float b)
{
    return std::fabs(c.red - r) < 1e-5f && std::fabs(c.green - g) < 1e-5f &&
           std::fabs(c.blue - b) < 1e-5f;
}
} // namespace

class TestRockingScan : public QObject
{
    Q_OBJECT

private slots:
    // N points from start up to one step short of stop, in either direction,
    // without rounding drift along a long scan.
    void pointVolts_gridEndsOneStepShortOfStop()
    {
        // start, stop, point, points, volts
        const double cases[][5] = {{4, 6, 0, 1000, 4.0},     {4, 6, 1, 1000, 4.002},
                                   {4, 6, 999, 1000, 5.998}, {4, 6, 9999, 10000, 5.9998},
                                   {2, -1, 1, 3, 1.0},       {5, 5, 3, 7, 5.0},
                                   {4, 6, 0, 1, 4.0}};
        for (const auto& [start, stop, i, n, volts] : cases)
            QVERIFY2(std::fabs(rocking::pointVolts(start, stop, int(i), int(n)) - volts) < 1e-12,
                     qPrintable(QString::number(volts)));
    }

    void outputSet_scanHeldAndZero()
    {
        using Set = std::array<double, 4>;
        // X on output 3, Y on output 4: outputs 1 and 2 stay at 0 V.
        QCOMPARE(rocking::outputSet(2, 4.5, 3, 5.3), (Set{0.0, 0.0, 4.5, 5.3}));
        QCOMPARE(rocking::outputSet(1, 4.5, 0, 5.1), (Set{5.1, 4.5, 0.0, 0.0}));
        // Both directions on one output: the scanned voltage is applied.
        QCOMPARE(rocking::outputSet(1, 4.5, 1, 5.1), (Set{0.0, 4.5, 0.0, 0.0}));
        // Numbers that name no output set nothing, and nothing outside the set.
        QCOMPARE(rocking::outputSet(4, 4.5, -1, 5.1), (Set{0.0, 0.0, 0.0, 0.0}));
    }

    void percentDone_reaches100AtTheLastPoint()
    {
        for (int n : {1, 3, 7, 999, 1000, 10000}) {
            int last = -1;
            for (int i = 0; i < n; ++i) {
                const int p = rocking::percentDone(i, n);
                QVERIFY(p >= last && p <= 100);
                last = p;
            }
            QCOMPARE(last, 100);
        }
        QCOMPARE(rocking::percentDone(0, 0), 0);
        QCOMPARE(rocking::percentDone(29999999, 30000000), 100); // no overflow
    }

    // Both ends of a range are reached; an empty span keeps every step on min.
    void stepVolts_bothEnds()
    {
        QCOMPARE((std::vector<double>{stepVolts(4.0, 2.0, 0), stepVolts(4.0, 2.0, 1),
                                      stepVolts(4.0, 2.0, 63), stepVolts(-20.0, 99.99 + 20.0, 63),
                                      stepVolts(5.5, 0.0, 0), stepVolts(5.5, 0.0, 63)}),
                 (std::vector<double>{4.0, 4.0 + 2.0 / 63.0, 6.0, 99.99, 5.5, 5.5}));
    }

    // Onto 0..1; a grid without range lies flat at 0 instead of dividing by
    // zero; values that are not numbers neither set the range nor spread.
    void normalise_rangeFlatAndBroken()
    {
        const float raw[5] = {-2e-6f, 0.0f, kNaN, -2e-6f, 6e-6f};
        std::vector<float> out(5);
        normalise(raw, out.data(), 5);
        QCOMPARE(out, (std::vector<float>{0.0f, 0.25f, 0.0f, 0.0f, 1.0f}));

        std::vector<float> equal(kPoints, 3.7e-6f), flat(kPoints, -1.0f);
        normalise(equal.data(), flat.data(), flat.size());
        QCOMPARE(flat, std::vector<float>(kPoints, 0.0f));
    }

    // Columns along x and rows along y (value at column a, row b is
    // d[a + b nx]): 3 columns by 2 rows show whether the two are mixed up.
    // A quad's colour is its mean height over the grid's range.
    void buildSurface_columnsAlongX_colourFromMean()
    {
        const float d[6] = {0.0f, 0.2f, 0.4f,  // row 0
                            0.6f, 0.8f, 1.0f}; // row 1
        std::vector<SurfaceQuad> quads;
        buildSurface(d, 3, 2, quads);
        QCOMPARE(int(quads.size()), 2);
        std::vector<float> corners;
        for (const SurfaceVertex& v : quads[1].vertex)
            corners.insert(corners.end(), {v.x, v.y, v.z});
        QCOMPARE(corners,
                 (std::vector<float>{0.5f, 0, 0.2f, 1, 0, 0.4f, 1, 1, 1.0f, 0.5f, 1, 0.8f}));
        QVERIFY(sameColour(quads[1].colour, 0.4f, 1.0f, 0.0f)); // mean 0.6
        QVERIFY(sameColour(quads[0].colour, 0.0f, 1.0f, 0.4f)); // mean 0.4
    }
};

QTEST_APPLESS_MAIN(TestRockingScan)
#include "tst_rockingscan.moc"
