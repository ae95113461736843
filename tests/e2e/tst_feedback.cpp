// The feedback panel running the whole program on the virtual controller:
// an administrator sends PID parameters, switches the feedback on in mode 5
// and enters a setpoint through the panel; the statistics page then shows
// the beam at the setpoint and "Feedback ON". A setpoint outside an
// enabled region of control shows "FAULT: Out of ROC".

#include "support/operatorsteps.h"
#include "support/screenshot.h"
#include "support/virtualprogram.h"
#include "support/widgets.h"

#include "control/widgetfeedbackcontrol.h"
#include "device/mailboxcomm.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QToolBox>

#include <cmath>

namespace
{
// The simulator's configuration shows positions in micrometres, 1000 per
// raw detector unit.
constexpr double kMicrometresPerUnit = 1000.0;

// Setpoints entered in the panel.
constexpr double kSetpointX = 20.0;   // um
constexpr double kSetpointY = -30.0;  // um
constexpr double kSetpointI0 = 60000; // nA
// An enabled region of control of +-50 um in X, and a setpoint beyond it.
constexpr double kRocX = 50.0;
constexpr double kOutsideRocX = 80.0;

// Display cycles (one per second of wall time) to wait for each stage.
constexpr int kCyclesPerStage = 6;

// The number in a statistics field such as "20.013 um".
double fieldValue(QWidget* panel, const char* name)
{
    return child<QLineEdit>(panel, name)->text().section(QLatin1Char(' '), 0, 0).toDouble();
}

// What the panel shows at one moment: the feedback state and the means.
struct PanelView {
    QString heartbeat;
    double xMean = NAN, yMean = NAN, i0Mean = NAN;
};

PanelView look(QWidget* panel)
{
    return {child<QLabel>(panel, "heartbeatLabel")->text(), fieldValue(panel, "posXMeanLineEdit"),
            fieldValue(panel, "posYMeanLineEdit"), fieldValue(panel, "i0MeanLineEdit")};
}

bool atSetpoint(const PanelView& v)
{
    return v.heartbeat == QLatin1String("Feedback ON") && std::fabs(v.xMean - kSetpointX) < 2.0 &&
           std::fabs(v.yMean - kSetpointY) < 2.0 &&
           std::fabs(v.i0Mean - kSetpointI0 * 1e-9) < 0.01 * kSetpointI0 * 1e-9;
}
} // namespace

class TestFeedback : public QObject
{
    Q_OBJECT

    // Kp, Ki, Kd, e min, I max, O min, O max, O gain of each loop at 1000 Hz,
    // entered in the PID window and sent with its OK; the output offsets stay
    // as stored, at the working point of the actuators.
private slots:
    void feedbackHoldsSetpointThenFaultsOutsideRoc()
    {
        enum Stage { Settling, Faulting, Done } stage = Settling;
        int stageStart = 1;
        PanelView settled, faulted;

        VirtualProgram program(5.0);
        QVERIFY(program.useFirstRunConfiguration());
        const int result = program.run([&](MainWindow& window, int cycle) {
            QWidget* panel = window.findChild<WidgetFeedbackControl*>();
            auto* toolBox = child<QToolBox>(panel, "toolBox");
            if (cycle == 1) {
                // An administrator logs in and sets the loops in the PID
                // window: PI loops well inside their stability margin at
                // 1000 Hz. The beam moves 0.2 raw units per volt at BPM 1
                // behind ~3.5 ms of dead time and lag, so 0.15 V per unit per
                // millisecond of integral settles in tens of milliseconds. The
                // intensity loop works on amperes (~1e-5 A per volt) and needs
                // its large output gain.
                logIn(window, QStringLiteral("admin"), QStringLiteral("KiteRiverSun"));
                setLoops(window, {{"posXwidget", {0.3, 0.15, 0.0, 0.0, 100.0, 0.0, 10.0, 1.0}},
                                  {"posYwidget", {0.3, 0.15, 0.0, 0.0, 100.0, 0.0, 10.0, 1.0}},
                                  {"intI0widget", {0.0, 50.0, 0.0, 0.0, 1.0, 0.0, 10.0, 100.0}}});

                chooseLoops(window, {"confXcheckbox", "confYcheckbox", "confI0checkbox"}); // mode 5
                child<QDoubleSpinBox>(panel, "posXDoubleSpinBox")->setValue(kSetpointX);
                child<QDoubleSpinBox>(panel, "posYDoubleSpinBox")->setValue(kSetpointY);
                child<QComboBox>(panel, "i0UnitSelector")->setCurrentText(QStringLiteral("nA"));
                child<QDoubleSpinBox>(panel, "i0DoubleSpinBox")->setValue(kSetpointI0);
                click(panel, "buttonUpdate");
                click(panel, "buttonFdbk");
                program.advance(3.0);
                return;
            }

            const PanelView now = look(panel);
            if (stage == Settling && (atSetpoint(now) || cycle - stageStart > kCyclesPerStage)) {
                settled = now;
                if (screenshotsWanted()) {
                    // The size of the main window's own screenshot.
                    window.resize(1500, 950);
                    QCoreApplication::processEvents();
                    saveScreenshot(window, QStringLiteral("feedback-window.png"));
                    toolBox->setCurrentIndex(0);
                    QCoreApplication::processEvents(); // lays the page out
                    saveScreenshot(*panel, QStringLiteral("feedback-statistics.png"));
                    toolBox->setCurrentIndex(1);
                    QCoreApplication::processEvents();
                    saveScreenshot(*panel, QStringLiteral("feedback-control.png"));
                }
                // X may stray +-50 um; then the operator asks for 80 um.
                theMailbox->setRocLimit(zevo::rocIndex(0, 0), 0.0, kRocX / kMicrometresPerUnit);
                theMailbox->setRocEnables(true, false, false, false, false, false);
                child<QDoubleSpinBox>(panel, "posXDoubleSpinBox")->setValue(kOutsideRocX);
                click(panel, "buttonUpdate");
                program.advance(2.0);
                stage = Faulting;
                stageStart = cycle;
            } else if (stage == Faulting && (now.heartbeat != settled.heartbeat ||
                                             cycle - stageStart > kCyclesPerStage)) {
                faulted = now;
                stage = Done;
                child<QAction>(&window, "action_Exit")->trigger();
            }
        });

        QCOMPARE(result, 0);
        QCOMPARE(stage, Done);
        QVERIFY2(atSetpoint(settled), qPrintable(QStringLiteral("%1: %2 %3 %4")
                                                     .arg(settled.heartbeat)
                                                     .arg(settled.xMean)
                                                     .arg(settled.yMean)
                                                     .arg(settled.i0Mean)));
        QCOMPARE(faulted.heartbeat, QStringLiteral("FAULT: Out of ROC"));
    }
};

QTEST_APPLESS_MAIN(TestFeedback)
#include "tst_feedback.moc"
