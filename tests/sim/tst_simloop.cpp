// The feedback of the virtual controller against the virtual beamline: the
// loops hold the beam against drift, and the interlocks stop them. (The
// loops bringing the beam to the operator's setpoints are driven through the
// feedback panel in tst_feedback; what a host-driven output step shows is
// measured through the step-response window in tst_windowstepresponse and
// fitted in tst_pidtuning.)

#include "simrig.h"

#include <QtTest>

namespace
{
// Raw units: 2 um at the simulator's 1000 um scale.
constexpr double kPositionTolerance = 0.002;
constexpr double kSettleSeconds = 1.5;

Scenario noDrift()
{
    Scenario s;
    s.driftLevel = 0.0;
    return s;
}
} // namespace

class TestSimLoop : public QObject
{
    Q_OBJECT

private slots:
    void feedbackHoldsTheBeamAgainstDrift()
    {
        // Drift several times the usual, over a minute: without feedback the
        // beam wanders off, with it the mean stays on the setpoint.
        Scenario s;
        s.driftLevel = 5.0;
        SimRig open(s), closed(s);
        closed.mailbox.setRegulationMode(zevo::MODE_XY);
        closed.mailbox.setFeedbackEnabled(true);
        double worstOpen = 0, worstClosed = 0;
        for (int second = 0; second < 60; ++second) {
            open.advance(1.0);
            closed.advance(1.0);
            worstOpen = std::max(worstOpen, std::fabs(open.statistics().xMean));
            worstClosed = std::max(worstClosed, std::fabs(closed.statistics().xMean));
        }
        QVERIFY2(worstOpen > 0.02, qPrintable(QString::number(worstOpen)));
        QVERIFY_NEAR(worstClosed, 0.0, kPositionTolerance);
    }

    void positionOutsideRocIsALatchedFault_beamBelowThresholdIsBeamOff()
    {
        SimRig rig(noDrift());
        MailboxComm& mb = rig.mailbox;
        mb.setRocLimit(zevo::rocIndex(0, 0), 0.0, 0.05);
        mb.setRocEnables(true, false, false, false, false, false);
        mb.setRegulationMode(zevo::MODE_XY);
        mb.setFeedbackEnabled(true);
        rig.advance(0.5);
        QCOMPARE(mb.readPidStatus(), int(zevo::PID_STATUS_ON));

        mb.setSetpointX(0.08); // the loop itself pushes the beam out
        rig.advance(kSettleSeconds);
        QCOMPARE(mb.readPidStatus(), int(zevo::PID_STATUS_FAULT_ROC));
        // The outputs went back to their offsets, and so did the beam; the
        // fault stays until the controller is reset.
        QVERIFY_NEAR(rig.statistics().xMean, 0.0, 0.01);
        const auto recent = rig.newest(200);
        QVERIFY_NEAR(meanOf(recent, zevo::disp::Bpm1X, 0, recent.size()), 0.0, kPositionTolerance);

        mb.setSetpointX(0.0);
        rig.advance(0.5);
        QCOMPARE(mb.readPidStatus(), int(zevo::PID_STATUS_FAULT_ROC));
        QCOMPARE(mb.resetPidController(), 0);
        rig.advance(kSettleSeconds);
        QCOMPARE(mb.readPidStatus(), int(zevo::PID_STATUS_ON));
        QVERIFY_NEAR(rig.statistics().xMean, 0.0, kPositionTolerance);

        // Below an enabled threshold the beam is off, not latched: the
        // feedback resumes when the beam returns. Disabled checks never trip.
        const auto beam = [&rig](bool present, double seconds) {
            rig.driver.changeScenario([present](Scenario& s) { s.beamPresent = present; });
            rig.advance(seconds);
        };
        mb.setRocLimit(zevo::rocIndex(0, 2), 0.0, 10e-6);
        mb.setRocEnables(false, false, true, false, false, false);
        rig.advance(0.1);
        QCOMPARE(mb.readPidStatus(), int(zevo::PID_STATUS_ON));
        beam(false, 0.05);
        QCOMPARE(mb.readPidStatus(), int(zevo::PID_STATUS_BEAM_OFF));
        const auto dark = rig.newest(10);
        QVERIFY(meanOf(dark, zevo::disp::Bpm1I0, 0, dark.size()) < 10e-6);
        beam(true, 0.05);
        QCOMPARE(mb.readPidStatus(), int(zevo::PID_STATUS_ON));

        // The threshold of BPM 2 counts as well.
        mb.setRocLimit(zevo::rocIndex(1, 2), 0.0, 1e-3);
        mb.setRocEnables(false, false, false, false, false, true);
        rig.advance(0.01);
        QCOMPARE(mb.readPidStatus(), int(zevo::PID_STATUS_BEAM_OFF));

        // Every check disabled, every limit broken: the feedback stays on.
        for (int bpm = 0; bpm < 2; ++bpm) {
            mb.setRocLimit(zevo::rocIndex(bpm, 0), 0.0, 0.01);
            mb.setRocLimit(zevo::rocIndex(bpm, 1), 0.0, 0.01);
            mb.setRocLimit(zevo::rocIndex(bpm, 2), 0.0, 1.0); // far above any current
        }
        mb.setRocEnables(false, false, false, false, false, false);
        mb.setRegulationMode(zevo::MODE_XY);
        mb.setSetpoints(0.05, -0.05, 0.0);
        rig.advance(kSettleSeconds);
        QCOMPARE(mb.readPidStatus(), int(zevo::PID_STATUS_ON));
        beam(false, 0.2);
        QCOMPARE(mb.readPidStatus(), int(zevo::PID_STATUS_ON));
    }
};

QTEST_GUILESS_MAIN(TestSimLoop)
#include "tst_simloop.moc"
