// The 3D rocking curve's numbers without any widget: scan voltages, the
// normalised grid, and the quads of the surface with the colour of their
// mean height (the scan's 63 x 63 quads drawn blue when flat and red at the
// peak are tst_graph3d's).

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

QTEST_APPLESS_MAIN(TestSurfaceGrid)
#include "tst_surfacegrid.moc"
