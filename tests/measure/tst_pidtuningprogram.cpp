// The tuning assistant in the whole program on the virtual controller: an
// administrator opens the step response from the Tools menu and measures the
// X loop; closed and opened again, it is the window the main window keeps,
// with its results, and the live display runs at its own rate again. From it
// the assistant opens on the measured run, fits it, and Apply and Undo
// reach the controller. (How well the fit finds the beamline's constants and
// the proposal predicts the closed loop is tst_pidtuning's.) The step response and the assistant
// are the documentation's screenshots.

#include "support/screenshot.h"
#include "support/virtualprogram.h"
#include "support/widgets.h"

#include "control/dialoglogin.h"
#include "measure/windowpidtuning.h"
#include "measure/windowstepresponse.h"

#include <QDoubleSpinBox>
#include <QLabel>

using namespace zevo;

class TestPidTuningProgram : public QObject
{
    Q_OBJECT

private slots:
    void xLoop_measuredFittedAppliedAndUndone()
    {
        VirtualProgram program(5.0);
        QVERIFY(program.useFirstRunConfiguration());
        bool suggestBeforeRun = true, suggestAfterRun = false, stepKept = false;
        int rateBefore = 0, rateAfter = 0;
        double kpSent = 0.0, kpRestored = 0.0;
        PidLawParameters proposal;
        FopdtModel model;
        const int result = program.run([&](MainWindow& window, int cycle) {
            if (cycle != 2)
                return;
            rateBefore = SAMP_FREQ;
            logIn(window, "admin", "KiteRiverSun");
            QAction* stepAction = child<QAction>(&window, "actionStep_Response");
            stepAction->trigger();
            auto* step = window.findChild<WindowStepResponse*>();
            step->setWaitFunction([&program](int ms) { program.clock.advanceMs(ms); });
            auto* suggest = child<QPushButton>(step, "suggestPidButton");
            suggestBeforeRun = suggest->isEnabled();
            child<QDoubleSpinBox>(step, "posXStepDoubleSpinBox")->setValue(0.5);
            QTest::mouseClick(standardButton(step, QDialogButtonBox::Apply), Qt::LeftButton);
            rateAfter = SAMP_FREQ;
            saveScreenshot(*step, QStringLiteral("step-response.png"));
            const QString gain = child<QLabel>(step, "Klabel")->text();
            step->close();
            stepAction->trigger();
            stepKept = window.findChildren<WindowStepResponse*>().size() == 1 &&
                       step->isVisible() && child<QLabel>(step, "Klabel")->text() == gain;
            suggestAfterRun = suggest->isEnabled();
            suggest->click();

            auto* tuning = step->findChild<WindowPidTuning*>();
            if (!tuning)
                return;
            saveScreenshot(*tuning, QStringLiteral("pid-tuning.png"));
            model = tuning->model();
            proposal = tuning->proposal();
            const auto activeKp = [&program] {
                double kp = 0.0;
                program.driver.inspect(
                    [&](const VirtualController& c) { kp = c.settings().active[kPidX].kp; });
                return kp;
            };
            standardButton(tuning, QDialogButtonBox::Apply)->click();
            kpSent = activeKp();
            child<QPushButton>(tuning, "undoButton")->click();
            kpRestored = activeKp();
            child<QAction>(&window, "action_Exit")->trigger();
        });
        QCOMPARE(result, 0);
        QVERIFY(!suggestBeforeRun && stepKept && suggestAfterRun);
        QCOMPARE(rateAfter, rateBefore);
        // The fit ran on the run the step response measured (its gain is the
        // model's: tst_pidtuning), and Apply and Undo reached the controller.
        QVERIFY2(model.valid && model.gain > 0, qPrintable(QString::number(model.gain)));
        QVERIFY(proposal.kp != PidLawParameters().kp);
        QCOMPARE(std::make_pair(kpSent, kpRestored),
                 std::make_pair(proposal.kp, PidLawParameters().kp));
    }
};

QTEST_APPLESS_MAIN(TestPidTuningProgram)
#include "tst_pidtuningprogram.moc"
