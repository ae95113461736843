// The 3D rocking curve's numbers without any widget: scan voltages, the
// normalised grid, and the quads and colours of the surface.

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

class TestSurfaceGrid : public QObject
{
    Q_OBJECT

private slots:
    // Both ends of a range are reached; an empty span keeps every step on min.
    void stepVolts_bothEnds()
    {
        QCOMPARE(stepVolts(4.0, 2.0, 0), 4.0);
        QCOMPARE(stepVolts(4.0, 2.0, 1), 4.0 + 2.0 / 63.0);
        QCOMPARE(stepVolts(4.0, 2.0, 63), 6.0);
        QCOMPARE(stepVolts(-20.0, 99.99 + 20.0, 63), 99.99);
        for (int i = 0; i < kSteps; ++i)
            QCOMPARE(stepVolts(5.5, 0.0, i), 5.5);
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

    // Value, then the colour's red, green and blue.
    void colourMap_bandBoundaries()
    {
        const float cases[][4] = {{0.0009f, 0, 0, 1},   {0.001f, 0, 0.004f, 1}, {0.25f, 0, 1, 1},
                                  {0.375f, 0, 1, 0.5f}, {0.5f, 0, 1, 0},        {0.75f, 1, 1, 0},
                                  {0.875f, 1, 0.5f, 0}, {1.0f, 1, 0, 0},        {kNaN, 0, 0, 1}};
        for (const auto& [v, r, g, b] : cases) {
            const SurfaceColour c = surfaceColour(v);
            QVERIFY2(
                sameColour(c, r, g, b),
                qPrintable(QString("%1: %2 %3 %4").arg(v).arg(c.red).arg(c.green).arg(c.blue)));
        }
    }

    // 63 x 63 quads over the unit square; the zero grid of a fresh window is
    // a flat blue plane at height 0.
    void buildSurface_scanGrid_3969FlatBlueQuads()
    {
        std::vector<float> zero(kPoints, 0.0f);
        std::vector<SurfaceQuad> quads;
        buildSurface(zero.data(), kSteps, kSteps, quads);
        QCOMPARE(int(quads.size()), 3969);
        for (const SurfaceQuad& q : quads) {
            QVERIFY(sameColour(q.colour, 0, 0, 1));
            for (const SurfaceVertex& v : q.vertex)
                QVERIFY(v.z == 0.0f && v.x >= 0.0f && v.x <= 1.0f && v.y >= 0.0f && v.y <= 1.0f);
        }
        QCOMPARE(quads.back().vertex[2].x, 1.0f);
        QCOMPARE(quads.back().vertex[2].y, 1.0f);
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

QTEST_APPLESS_MAIN(TestSurfaceGrid)
#include "tst_surfacegrid.moc"
