// The 3D view with a real OpenGL context (virtual X display): a whole 3D
// rocking-curve scan on the virtual beamline (manual clock, no noise or
// drift) drawn by it: a flat blue plane in the grey grid box before, a
// surface peaking in red where the beamline's rocking curve does after, and
// the controller gets its outputs back; then mouse rotation of its angles.
// With ZEVO_SCREENSHOT_DIR set, the window after the scan is saved there as
// rocking-curve-3d.png.

#include "measure/graph3d.h"
#include "measure/surfaceplot.h"
#include "measure/windowrocking3d.h"

#include "analysis/surfacegrid.h"
#include "sim/beamlinemodel.h"
#include "support/opengldriver.h"
#include "support/screenshot.h"
#include "support/simfixture.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QtTest>

#include <algorithm>
#include <cstdlib>
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

// The grid point (X step, Y step) where the model's own total current on the
// first picoammeter is highest with the actuators at rest: what the scan
// must find, without the dynamics of a scan.
std::pair<int, int> modelGridPeak()
{
    BeamlineModel model(1);
    model.setScenario(SimFixture::quiet());
    std::pair<int, int> best{0, 0};
    double bestSum = -1.0;
    for (int i = 0; i < surfacegrid::kSteps; ++i)
        for (int j = 0; j < surfacegrid::kSteps; ++j) {
            const double dac[4] = {surfacegrid::stepVolts(4.0, 2.0, i),
                                   surfacegrid::stepVolts(4.0, 2.0, j), 0.0, 0.0};
            model.settle(dac);
            model.step(dac);
            const double* ch = model.channels(0);
            const double sum = ch[0] + ch[1] + ch[2] + ch[3];
            if (sum > bestSum) {
                bestSum = sum;
                best = {i, j};
            }
        }
    return best;
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

    void scan_surfacePeaksAtBeamlinePeak_thenMouseRotation()
    {
        SimFixture rig(SimFixture::quiet());
        {
            WindowRocking3D window;
            window.setSleeper(
                [&rig](unsigned long us) { rig.clock.advanceNs(int64_t(us) * 1000); });
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            Graph3D* g = window.graph3D();
            QVERIFY(g);
            const auto angles = [g] {
                return std::array<int, 3>{g->angleX(), g->angleY(), g->angleZ()};
            };
            QCOMPARE(angles(), (std::array<int, 3>{4690, 21, 3744}));
            QCOMPARE(int(g->surface().quads().size()), 3969);
            QImage image = g->grabFrameBuffer();
            auto n = countPixels(image);
            const auto seen = [&n] {
                return qPrintable(QString("white %1, blue %2, red %3, grey %4")
                                      .arg(n[0])
                                      .arg(n[1])
                                      .arg(n[2])
                                      .arg(n[3]));
            };
            QVERIFY2(n[0] > image.width() * image.height() / 4 && n[1] > 2000 && n[2] == 0 &&
                         n[3] > 200,
                     seen());
            QMetaObject::invokeMethod(window.findChild<QPushButton*>(QStringLiteral("goButton")),
                                      "click", Qt::QueuedConnection);
            QCoreApplication::processEvents();
            QVERIFY(!window.isScanning());

            // The scan's maximum lies on the model's peak, or next to it,
            // inside the default window; a real peak, not noise.
            const auto [peakI, peakJ] = modelGridPeak();
            const auto& raw = window.rawGrid();
            const auto top = std::max_element(raw.begin(), raw.end());
            const int i = int(top - raw.begin()) / 64, j = int(top - raw.begin()) % 64;
            QVERIFY2(std::abs(i - peakI) <= 1 && std::abs(j - peakJ) <= 1,
                     qPrintable(QString("maximum at steps %1, %2; the model's at %3, %4")
                                    .arg(i)
                                    .arg(j)
                                    .arg(peakI)
                                    .arg(peakJ)));
            QVERIFY(peakI > 0 && peakI < 63 && peakJ > 0 && peakJ < 63);
            QVERIFY(*top > 3.0f * *std::min_element(raw.begin(), raw.end()));

            // The view's highest quad sits over that point (the view's x
            // carries the Y scan, its y the X scan), in red, and red is drawn.
            const auto& quads = g->surface().quads();
            const auto highest =
                std::max_element(quads.begin(), quads.end(), [](const auto& a, const auto& b) {
                    return a.vertex[0].z + a.vertex[2].z < b.vertex[0].z + b.vertex[2].z;
                });
            QVERIFY(std::abs(highest->vertex[0].x * 63.0f - float(peakJ)) <= 1.5f);
            QVERIFY(std::abs(highest->vertex[0].y * 63.0f - float(peakI)) <= 1.5f);
            QCOMPARE(highest->colour.red, 1.0f);
            n = countPixels(g->grabFrameBuffer());
            QVERIFY2(n[2] > 20, seen());

            if (screenshotsWanted()) {
                // grab() leaves an OpenGL child black: its frame buffer is
                // drawn in over it.
                QPixmap picture = window.grab();
                QPainter painter(&picture);
                painter.drawImage(g->mapTo(&window, QPoint(0, 0)), g->grabFrameBuffer());
                painter.end();
                QVERIFY(saveScreenshot(picture, QStringLiteral("rocking-curve-3d.png")));
            }

            // Ten pixels of drag turn the view by five degrees (80
            // sixteenths): left button about x (vertical) and y
            // (horizontal), right button about x and z. Moves are counted
            // from the last position, so two halves make one whole; turning
            // back past zero wraps round; moves without a button turn
            // nothing.
            struct Drag {
                Qt::MouseButton button;
                std::vector<QPoint> path; // from (100, 100)
                std::array<int, 3> angles;
            };
            for (const Drag& d : std::vector<Drag>{
                     {Qt::LeftButton, {{110, 100}}, {4690, 21 + 80, 3744}},
                     {Qt::RightButton, {{105, 100}, {110, 100}}, {4690, 21 + 80, 3744 + 80}},
                     {Qt::LeftButton, {{100, 90}}, {4690 - 80, 21 + 80, 3744 + 80}},
                     {Qt::LeftButton, {{80, 100}}, {4690 - 80, 5760 + 101 - 160, 3744 + 80}},
                     {Qt::NoButton, {{300, 300}}, {4690 - 80, 5760 + 101 - 160, 3744 + 80}}}) {
                drag(g, d.button, {100, 100}, d.path);
                QCOMPARE(angles(), d.angles);
            }
        }
        // Feedback stays off; the controller drives the outputs again.
        QVERIFY(rig.settings().outputsFromController);
        QVERIFY(!rig.settings().feedbackEnabled);
    }
};

QTEST_MAIN(TestGraph3D)
#include "tst_graph3d.moc"
