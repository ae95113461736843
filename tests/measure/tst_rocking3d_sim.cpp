// A whole 3D rocking-curve scan on the virtual beamline (manual clock, no
// noise or drift), with the real 3D view: the surface peaks where the
// beamline's rocking curve does, and the controller gets its outputs back.
// With ZEVO_SCREENSHOT_DIR set, the window after the scan is saved there as
// rocking-curve-3d.png.

#include "measure/graph3d.h"
#include "measure/surfaceplot.h"
#include "measure/windowrocking3d.h"

#include "analysis/surfacegrid.h"
#include "sim/beamlinemodel.h"
#include "sim/simrig.h"
#include "support/opengldriver.h"
#include "support/screenshot.h"

#include <QPainter>
#include <QPushButton>
#include <QtTest>

#include <algorithm>
#include <cstdlib>

namespace
{
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

class TestRocking3DSim : public QObject
{
    Q_OBJECT

private slots:
    void scan_surfacePeaksAtBeamlinePeak()
    {
        SimRig rig;
        theDriver = &rig.driver;
        theMailbox = &rig.mailbox;
        {
            WindowRocking3D window;
            window.setSleeper([&rig](unsigned long us) { rig.clock.advanceNs(int64_t(us) * 1000); });
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            QVERIFY(window.graph3D());
            keepOpenGLDriverLoaded();
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
                                    .arg(i).arg(j).arg(peakI).arg(peakJ)));
            QVERIFY(peakI > 0 && peakI < 63 && peakJ > 0 && peakJ < 63);
            QVERIFY(*top > 3.0f * *std::min_element(raw.begin(), raw.end()));

            // The view's highest quad sits over that point (the view's x
            // carries the Y scan, its y the X scan), in red.
            const auto& quads = window.graph3D()->surface().quads();
            const auto highest =
                std::max_element(quads.begin(), quads.end(), [](const auto& a, const auto& b) {
                    return a.vertex[0].z + a.vertex[2].z < b.vertex[0].z + b.vertex[2].z;
                });
            QVERIFY(std::abs(highest->vertex[0].x * 63.0f - float(peakJ)) <= 1.5f);
            QVERIFY(std::abs(highest->vertex[0].y * 63.0f - float(peakI)) <= 1.5f);
            QCOMPARE(highest->colour.red, 1.0f);

            if (screenshotsWanted()) {
                // grab() leaves an OpenGL child black: its frame buffer is
                // drawn in over it.
                QPixmap picture = window.grab();
                QPainter painter(&picture);
                Graph3D* view = window.graph3D();
                painter.drawImage(view->mapTo(&window, QPoint(0, 0)), view->grabFrameBuffer());
                painter.end();
                QVERIFY(saveScreenshot(picture, QStringLiteral("rocking-curve-3d.png")));
            }
        }
        // Feedback stays off; the controller drives the outputs again.
        QVERIFY(rig.settings().outputsFromController);
        QVERIFY(!rig.settings().feedbackEnabled);
        theDriver = nullptr;
        theMailbox = nullptr;
    }
};

QTEST_MAIN(TestRocking3DSim)
#include "tst_rocking3d_sim.moc"
