// The 3D view with a real OpenGL context (virtual X display): its angles and
// their normalisation, mouse rotation, the grid box, and what it draws for a
// flat and for a peaked grid.

#include "measure/graph3d.h"
#include "measure/surfaceplot.h"
#include "measure/windowrocking3d.h"

#include "support/opengldriver.h"

#include <QMouseEvent>
#include <QtTest>

#include <vector>

namespace
{
void drag(QWidget* w, Qt::MouseButton button, QPoint from, const std::vector<QPoint>& path)
{
    QMouseEvent press(QEvent::MouseButtonPress, from, button, button, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &press);
    for (QPoint to : path) {
        QMouseEvent move(QEvent::MouseMove, to, Qt::NoButton, button, Qt::NoModifier);
        QCoreApplication::sendEvent(w, &move);
    }
    QMouseEvent release(QEvent::MouseButtonRelease, path.back(), button, Qt::NoButton,
                        Qt::NoModifier);
    QCoreApplication::sendEvent(w, &release);
}

// White, blue, red and grey (the grid box) pixels of a frame.
std::array<int, 4> countPixels(const QImage& image)
{
    std::array<int, 4> n{};
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.red() > 245 && c.green() > 245 && c.blue() > 245)
                ++n[0];
            else if (c.blue() > 200 && c.red() < 40 && c.green() < 40)
                ++n[1];
            else if (c.red() > 200 && c.green() < 40 && c.blue() < 40)
                ++n[2];
            else if (qAbs(c.red() - c.green()) < 12 && qAbs(c.green() - c.blue()) < 12 &&
                     c.red() < 200)
                ++n[3];
        }
    return n;
}
} // namespace

class TestGraph3D : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QString why;
        QVERIFY2(Graph3D::openGLAvailable(&why), qPrintable(why));
        keepOpenGLDriverLoaded();
    }

    void normalizedAngle_wholeTurns()
    {
        QCOMPARE(Graph3D::normalizedAngle(-8), 5752);
        QCOMPARE(Graph3D::normalizedAngle(5760), 5760);
        QCOMPARE(Graph3D::normalizedAngle(5761), 1);
        QCOMPARE(Graph3D::normalizedAngle(-5761), 5759);
        QCOMPARE(Graph3D::normalizedAngle(3 * 5760 + 100), 100);
    }

    // Ten pixels of drag turn the view by five degrees (80 sixteenths):
    // left button about x (vertical) and y (horizontal), right button about
    // x and z. Moves are counted from the last position, so two halves make
    // one whole; moves without a button turn nothing.
    void mouseDrag_tenPixelsFiveDegrees()
    {
        Graph3D g;
        const auto angles = [&g] { return std::array<int, 3>{g.angleX(), g.angleY(), g.angleZ()}; };
        QCOMPARE(angles(), (std::array<int, 3>{4690, 21, 3744}));
        g.show();
        QVERIFY(QTest::qWaitForWindowExposed(&g));
        drag(&g, Qt::LeftButton, {100, 100}, {{110, 100}});
        QCOMPARE(angles(), (std::array<int, 3>{4690, 21 + 80, 3744}));
        drag(&g, Qt::RightButton, {100, 100}, {{105, 100}, {110, 100}});
        QCOMPARE(angles(), (std::array<int, 3>{4690, 21 + 80, 3744 + 80}));
        drag(&g, Qt::LeftButton, {100, 100}, {{100, 90}});
        QCOMPARE(angles(), (std::array<int, 3>{4690 - 80, 21 + 80, 3744 + 80}));
        // Turning back past zero wraps round.
        drag(&g, Qt::LeftButton, {100, 100}, {{80, 100}});
        QCOMPARE(angles(), (std::array<int, 3>{4690 - 80, 5760 + 101 - 160, 3744 + 80}));
        QMouseEvent hover(QEvent::MouseMove, QPoint(300, 300), Qt::NoButton, Qt::NoButton,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(&g, &hover);
        QCOMPARE(angles(), (std::array<int, 3>{4690 - 80, 5760 + 101 - 160, 3744 + 80}));
    }

    // Three axes from the origin, then a 5 x 5 grid on each back plane.
    void gridBox_axesAndBackPlanes()
    {
        const auto lines = GridBox().lines();
        QCOMPARE(int(lines.size()), 3 + 3 * 2 * 6);
        for (std::size_t k = 0; k < lines.size(); ++k) {
            const auto& a = lines[k].from;
            const auto& b = lines[k].to;
            QCOMPARE(lines[k].width, k < 3 ? 1.5f : 0.5f);
            QVERIFY((a.x == 0 && b.x == 0) || (a.y == 0 && b.y == 0) || (a.z == 0 && b.z == 0));
        }
    }

    // A fresh window shows a flat blue plane in the grey grid box on white;
    // a peaked grid brings red to the top.
    void drawing_flatPlaneThenPeak()
    {
        WindowRocking3D window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        Graph3D* g = window.graph3D();
        QVERIFY(g);
        QCOMPARE(int(g->surface().quads().size()), 3969);
        QImage image = g->grabFrameBuffer();
        auto n = countPixels(image);
        const QString seen = QString("white %1, blue %2, red %3, grey %4")
                                 .arg(n[0]).arg(n[1]).arg(n[2]).arg(n[3]);
        QVERIFY2(n[0] > image.width() * image.height() / 4 && n[1] > 2000 && n[2] == 0 &&
                     n[3] > 200,
                 qPrintable(seen));

        std::vector<float> peak(64 * 64, 0.0f);
        for (int i = 0; i < 64; ++i)
            for (int j = 0; j < 64; ++j)
                peak[std::size_t(i * 64 + j)] =
                    float(std::exp(-0.5 * ((i - 32) * (i - 32) + (j - 32) * (j - 32)) / 64.0));
        g->setData(peak.data(), 64, 64);
        g->updateGL();
        n = countPixels(g->grabFrameBuffer());
        QVERIFY2(n[2] > 20, qPrintable(QString::number(n[2])));
    }
};

QTEST_MAIN(TestGraph3D)
#include "tst_graph3d.moc"
