// The 3D rocking curve's numbers without any widget: where the scan steps
// lie, how the grid is normalised, and the quads and colours of the surface.

#include "analysis/surfacegrid.h"

#include <QtTest>

#include <cmath>
#include <limits>
#include <vector>

using namespace surfacegrid;

class TestSurfaceGrid : public QObject
{
    Q_OBJECT

    static bool sameColour(SurfaceColour c, float r, float g, float b)
    {
        return std::fabs(c.red - r) < 1e-5f && std::fabs(c.green - g) < 1e-5f &&
               std::fabs(c.blue - b) < 1e-5f;
    }

private slots:
    // 64 steps from min to max: both ends are reached, the steps are even,
    // and an empty span keeps every step on min.
    void stepVolts_spanBothEnds()
    {
        QCOMPARE(stepVolts(4.0, 2.0, 0), 4.0);
        QCOMPARE(stepVolts(4.0, 2.0, 63), 6.0);
        QCOMPARE(stepVolts(4.0, 2.0, 1), 4.0 + 2.0 / 63.0);
        QCOMPARE(stepVolts(-20.0, 99.99 - -20.0, 63), 99.99);
        QCOMPARE(stepVolts(6.0, -2.0, 63), 4.0); // a falling range runs downwards
        for (int i = 0; i < kSteps; ++i)
            QCOMPARE(stepVolts(5.5, 0.0, i), 5.5);
    }

    void normalise_mapsRangeOntoUnitInterval()
    {
        const float raw[5] = {2e-6f, 4e-6f, 3e-6f, 2e-6f, 6e-6f};
        float out[5];
        normalise(raw, out, 5);
        QCOMPARE(out[0], 0.0f);
        QCOMPARE(out[1], 0.5f);
        QCOMPARE(out[2], 0.25f);
        QCOMPARE(out[4], 1.0f);

        // Negative currents (an offset picoammeter) are no special case.
        const float offset[3] = {-1e-9f, -3e-9f, 1e-9f};
        normalise(offset, out, 3);
        QCOMPARE(out[0], 0.5f);
        QCOMPARE(out[1], 0.0f);
        QCOMPARE(out[2], 1.0f);
    }

    // A grid without range gives a flat surface, never NaN from 0 / 0;
    // values that are not numbers take no part in the range.
    void normalise_flatOrBrokenGrids_finite()
    {
        std::vector<float> equal(kPoints, 3.7e-6f);
        std::vector<float> out(kPoints, -1.0f);
        normalise(equal.data(), out.data(), equal.size());
        for (float v : out)
            QCOMPARE(v, 0.0f);

        const float nan = std::numeric_limits<float>::quiet_NaN();
        const float inf = std::numeric_limits<float>::infinity();
        const float broken[4] = {1.0f, nan, 3.0f, inf};
        float b[4];
        normalise(broken, b, 4);
        QCOMPARE(b[0], 0.0f);
        QCOMPARE(b[1], 0.0f);
        QCOMPARE(b[2], 1.0f);
        QCOMPARE(b[3], 0.0f);

        const float allNan[2] = {nan, nan};
        normalise(allNan, b, 2);
        QCOMPARE(b[0], 0.0f);
        QCOMPARE(b[1], 0.0f);
    }

    void surfaceColour_bandBoundaries_data()
    {
        QTest::addColumn<float>("v");
        QTest::addColumn<float>("r");
        QTest::addColumn<float>("g");
        QTest::addColumn<float>("b");
        QTest::newRow("negative") << -0.5f << 0.f << 0.f << 1.f;
        QTest::newRow("just below 0.001") << 0.0009f << 0.f << 0.f << 1.f;
        QTest::newRow("0.001 starts the green ramp") << 0.001f << 0.f << 0.004f << 1.f;
        QTest::newRow("0.125") << 0.125f << 0.f << 0.5f << 1.f;
        QTest::newRow("0.25 is cyan") << 0.25f << 0.f << 1.f << 1.f;
        QTest::newRow("0.375") << 0.375f << 0.f << 1.f << 0.5f;
        QTest::newRow("0.5 is green") << 0.5f << 0.f << 1.f << 0.f;
        QTest::newRow("0.625") << 0.625f << 0.5f << 1.f << 0.f;
        QTest::newRow("0.75 is yellow") << 0.75f << 1.f << 1.f << 0.f;
        QTest::newRow("0.875") << 0.875f << 1.f << 0.5f << 0.f;
        QTest::newRow("1 is red") << 1.0f << 1.f << 0.f << 0.f;
        QTest::newRow("above 1") << 7.0f << 1.f << 0.f << 0.f;
        QTest::newRow("not a number") << std::numeric_limits<float>::quiet_NaN() << 0.f << 0.f << 1.f;
    }
    void surfaceColour_bandBoundaries()
    {
        QFETCH(float, v);
        QFETCH(float, r);
        QFETCH(float, g);
        QFETCH(float, b);
        const SurfaceColour c = surfaceColour(v);
        QVERIFY2(sameColour(c, r, g, b),
                 qPrintable(QString("got %1 %2 %3").arg(c.red).arg(c.green).arg(c.blue)));
    }

    // 63 x 63 quads over the unit square; a fresh (zero) grid is a flat blue
    // plane at height 0.
    void buildSurface_scanGrid_3969Quads()
    {
        std::vector<float> zero(kPoints, 0.0f);
        std::vector<SurfaceQuad> quads;
        buildSurface(zero.data(), kSteps, kSteps, quads);
        QCOMPARE(int(quads.size()), 3969);
        float maxX = 0, maxY = 0;
        for (const SurfaceQuad& q : quads) {
            QVERIFY(sameColour(q.colour, 0, 0, 1));
            for (const SurfaceVertex& v : q.vertex) {
                QCOMPARE(v.z, 0.0f);
                maxX = std::max(maxX, v.x);
                maxY = std::max(maxY, v.y);
            }
        }
        QCOMPARE(maxX, 1.0f);
        QCOMPARE(maxY, 1.0f);
        QCOMPARE(quads.front().vertex[0].x, 0.0f);
        QCOMPARE(quads.front().vertex[2].x, 1.0f / 63.0f);
    }

    // Columns run along x and rows along y (value at column a, row b is
    // d[a + b nx]); a grid of 3 columns and 2 rows shows whether the two are
    // mixed up. The colour is the quad's mean height over the grid's range.
    void buildSurface_columnsAlongX_rowsAlongY()
    {
        //              a=0   a=1   a=2
        const float d[6] = {0.0f, 0.2f, 0.4f,  // b = 0
                            0.6f, 0.8f, 1.0f}; // b = 1
        std::vector<SurfaceQuad> quads;
        buildSurface(d, 3, 2, quads);
        QCOMPARE(int(quads.size()), 2);

        const SurfaceQuad& second = quads[1]; // a = 1, b = 0
        const float expected[4][3] = {
            {0.5f, 0.0f, 0.2f}, {1.0f, 0.0f, 0.4f}, {1.0f, 1.0f, 1.0f}, {0.5f, 1.0f, 0.8f}};
        for (int k = 0; k < 4; ++k) {
            QCOMPARE(second.vertex[k].x, expected[k][0]);
            QCOMPARE(second.vertex[k].y, expected[k][1]);
            QCOMPARE(second.vertex[k].z, expected[k][2]);
        }
        // Mean 0.6 over a range of 1: green going yellow.
        QVERIFY(sameColour(second.colour, 0.4f, 1.0f, 0.0f));
        // Mean 0.4 of the first quad: cyan going green.
        QVERIFY(sameColour(quads[0].colour, 0.0f, 1.0f, 0.4f));

        // Too small a grid has no cells.
        buildSurface(d, 1, 6, quads);
        QVERIFY(quads.empty());
    }
};

QTEST_APPLESS_MAIN(TestSurfaceGrid)
#include "tst_surfacegrid.moc"
