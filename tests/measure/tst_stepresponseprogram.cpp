// The step response in the whole program on the virtual controller: an
// administrator opens it from the Tools menu, measures a step of X at BPM 1,
// closes the window and opens it again. The window is the one the main
// window keeps, with its results, and the live display runs at its own rate
// again. With ZEVO_SCREENSHOT_DIR set, the window after the run is saved as
// step-response.png there.

#include "support/virtualprogram.h"

#include "control/dialoglogin.h"
#include "measure/windowstepresponse.h"
#include "sim/beamlinemodel.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <cmath>

namespace
{
template <typename T> T* child(QObject* w, const char* name)
{
    return w->findChild<T*>(QString::fromLatin1(name));
}

void logInAsAdmin(MainWindow& window)
{
    child<QAction>(&window, "action_Login")->trigger();
    auto* login = window.findChild<DialogLogin*>();
    child<QLineEdit>(login, "usernameLineEdit")->setText("admin");
    child<QLineEdit>(login, "passwordLineEdit")->setText("KiteRiverSun");
    QTest::mouseClick(child<QPushButton>(login, "logIn"), Qt::LeftButton);
    login->hide();
}
} // namespace

class TestStepResponseProgram : public QObject
{
    Q_OBJECT

private slots:
    void menu_keptWindowMeasuresTheVirtualBeamline()
    {
        VirtualProgram program(5.0);
        QVERIFY(program.useFirstRunConfiguration());
        const QString shots = qEnvironmentVariable("ZEVO_SCREENSHOT_DIR");

        int rateBefore = 0, rateAfter = 0, windowsKept = 0;
        bool shownAgain = false;
        QString gain, gainAfterReopening, dead, settle;
        const int result = program.run([&](MainWindow& window, int cycle) {
            if (cycle != 2)
                return;
            rateBefore = SAMP_FREQ;
            logInAsAdmin(window);
            QAction* action = child<QAction>(&window, "actionStep_Response");
            action->trigger();
            auto* w = window.findChild<WindowStepResponse*>();
            w->setWaitFunction([&program](int ms) { program.clock.advanceMs(ms); });
            child<QDoubleSpinBox>(w, "posXStepDoubleSpinBox")->setValue(0.5);
            QTest::mouseClick(
                child<QDialogButtonBox>(w, "buttonBox")->button(QDialogButtonBox::Apply),
                Qt::LeftButton);
            rateAfter = SAMP_FREQ;
            gain = child<QLabel>(w, "Klabel")->text();
            dead = child<QLabel>(w, "Tdeadlabel")->text();
            settle = child<QLabel>(w, "Tsetlabel")->text();
            if (!shots.isEmpty())
                w->grab().save(shots + QStringLiteral("/step-response.png"));

            w->close();
            action->trigger();
            windowsKept = window.findChildren<WindowStepResponse*>().size();
            shownAgain = w->isVisible();
            gainAfterReopening = child<QLabel>(w, "Klabel")->text();
            child<QAction>(&window, "action_Exit")->trigger();
        });

        QCOMPARE(result, 0);
        QCOMPARE(windowsKept, 1);
        QVERIFY(shownAgain);
        QCOMPARE(gainAfterReopening, gain);
        QCOMPARE(rateAfter, rateBefore);
        // X at BPM 1 on the noisy beamline, within 10 % of the model.
        const QString seen = gain + " / " + dead + " / " + settle;
        QVERIFY2(std::fabs(gain.toDouble() - BeamlineModel::positionGain(0, 0)) <
                     0.1 * BeamlineModel::positionGain(0, 0),
                 qPrintable(seen));
        const double tdead = 1e3 * (BeamlineModel::deadTimeSeconds(0) +
                                    BeamlineModel::lagSeconds(0) * std::log(10.0 / 9.0));
        QVERIFY2(std::fabs(dead.section(' ', 0, 0).toDouble() - tdead) < 0.1 * tdead,
                 qPrintable(seen));
    }
};

QTEST_APPLESS_MAIN(TestStepResponseProgram)
#include "tst_stepresponseprogram.moc"
