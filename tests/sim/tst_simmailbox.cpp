// The virtual controller as the program's mailbox communicator sees it:
// settings come back as sent, land in the right firmware fields, unknown
// commands are refused, slots and nodes follow the plugged devices.

#include "simrig.h"

#include <QtTest>

#include <cerrno>

class TestSimMailbox : public QObject
{
    Q_OBJECT

private slots:
    void readableSettingsComeBackAsSent();
    void writeOnlySettingsReachTheirFirmwareFields();
    void versionsOfCurrentAndOldFirmware();
    void unknownCommandsAndBadArguments();
    void slotsAndNodesFollowThePluggedDevices();
    void nodeRequestsAreCheckedLikeTheKernelDriver();
    void statusBlockHoldsTheLastSecond();
    void highVoltageRampsThroughItsStates();
    void rangeLimitsTheInputCurrents();
};

void TestSimMailbox::readableSettingsComeBackAsSent()
{
    SimRig rig;
    MailboxComm& mb = rig.mailbox;

    QCOMPARE(mb.setOutputsFromController(false), 0);
    QCOMPARE(mb.readOutputsFromController(), 0u);
    QCOMPARE(mb.setOutputsFromController(true), 0);
    QCOMPARE(mb.readOutputsFromController(), 1u);

    rig.setDisplayRate(3000, true);
    bool filter = false;
    QCOMPARE(mb.readDisplayFrequency(&filter), 1e8 / 33333);
    QVERIFY(filter);
    rig.setDisplayRate(50000, false);
    QCOMPARE(mb.readDisplayFrequency(&filter), 50000.0);
    QVERIFY(!filter);

    int x = -1, y = -1, i0 = -1;
    QVERIFY(mb.setPidSources(1, 0, 1));
    QVERIFY(mb.readPidSources(&x, &y, &i0));
    QCOMPARE(x, 1);
    QCOMPARE(y, 0);
    QCOMPARE(i0, 1);

    QCOMPARE(mb.setSetpoints(0.0125, -0.5, 3.5e-6), 0);
    double sx = 0, sy = 0, si = 0;
    MailboxComm other(rig.driver); // no copies of its own: every value comes from the controller
    other.doSetupOnNewThread();
    QCOMPARE(other.readSetpoints(&sx, &sy, &si), 0);
    QCOMPARE(sx, 0.0125);
    QCOMPARE(sy, -0.5);
    QCOMPARE(si, 3.5e-6);

    for (int mode = zevo::MODE_X; mode <= zevo::MODE_I0; ++mode) {
        mb.setRegulationMode(mode);
        QCOMPARE(other.readRegulationMode(), mode);
    }

    const bool patterns[2][6] = {{true, false, true, false, true, false},
                                 {false, true, false, true, false, true}};
    for (const auto& p : patterns) {
        QCOMPARE(mb.setRocEnables(p[0], p[1], p[2], p[3], p[4], p[5]), 0);
        bool r[6];
        mb.readRocEnables(&r[0], &r[1], &r[2], &r[3], &r[4], &r[5]);
        for (int k = 0; k < 6; ++k)
            QCOMPARE(r[k], p[k]);
    }
}

void TestSimMailbox::writeOnlySettingsReachTheirFirmwareFields()
{
    SimRig rig;
    MailboxComm& mb = rig.mailbox;
    const FirmwareSettings before = rig.settings();

    mb.setBpmScale(1, 2.5, 3.5);
    mb.setPidDivider(2, 33);
    mb.setBpmChannelMap(3, 2, 1, 0, 1);
    mb.setBpmOrientation(0, 0);
    QCOMPARE(mb.setBpmOffsets(1, 0.01, -0.02), 0);
    QCOMPARE(mb.setPidOffsets(4.5, 5.5, 6.5), 0);
    mb.setRocLimit(4, 0.0, 0.33);
    mb.setDacAssignment(2, 0, 1);
    QCOMPARE(mb.setHvEnabled(false, 1), 0);
    QCOMPARE(mb.setHvVoltage(1, 250.5f), 0);
    mb.setPicoRange(1, 0);
    QCOMPARE(mb.setPidParams(1, 1, 2, 3, 4, 5, -6, 7, 8), 0);

    const FirmwareSettings s = rig.settings();
    QCOMPARE(s.scaleX[1], 2.5);
    QCOMPARE(s.scaleY[1], 3.5);
    QCOMPARE(s.scaleX[0], before.scaleX[0]);
    QCOMPARE(s.pidDivider[2], 33u);
    QCOMPARE(s.pidDivider[0], before.pidDivider[0]);
    const int map[4] = {3, 2, 1, 0};
    for (int k = 0; k < 4; ++k) {
        QCOMPARE(s.channelMap[1][k], map[k]);
        QCOMPARE(s.channelMap[0][k], before.channelMap[0][k]);
    }
    QVERIFY(!s.orientation90[0]);
    QVERIFY(s.orientation90[1]);
    QCOMPARE(s.offsetX[1], 0.01);
    QCOMPARE(s.offsetY[1], -0.02);
    QCOMPARE(s.offsetX[0], before.offsetX[0]);
    QCOMPARE(s.pidOffset[0], 4.5);
    QCOMPARE(s.pidOffset[1], 5.5);
    QCOMPARE(s.pidOffset[2], 6.5);
    QCOMPARE(s.rocHigh[4], 0.33);
    QCOMPARE(s.rocHigh[3], before.rocHigh[3]);
    QCOMPARE(s.dacAssignment[0], 2);
    QCOMPARE(s.dacAssignment[1], 0);
    QCOMPARE(s.dacAssignment[2], 1);
    QVERIFY(!s.hvEnabled[1]);
    QVERIFY(s.hvEnabled[0]);
    QCOMPARE(s.hvSet[1], 250.5);
    QCOMPARE(s.picoRange[0], 1);
    const PidParameters& p = s.active[1];
    const double pid[8] = {p.kp, p.ki, p.kd, p.eMin, p.iMax, p.oMin, p.oMax, p.oGain};
    for (int k = 0; k < 8; ++k)
        QCOMPARE(pid[k], double(k == 5 ? -6 : k + 1));

    // The outputs follow: the X loop, at its offset, now drives output 3.
    rig.advance(0.002);
    QCOMPARE(rig.newest(1)[0].value[zevo::disp::Dac1 + 2], 4.5);

    // A parameter block on its own is staged; the loop keeps its parameters
    // until they are applied.
    zevo::MailboxMessage gains(zevo::cmd::SetPidParamBlock);
    gains.setU8(4, 1);
    gains.setU8(5, zevo::kPidBlockGains);
    gains.setF64(8, 9.0);
    QVERIFY(rig.transfer(gains).acknowledged());
    QCOMPARE(rig.settings().active[1].kp, 1.0);
    rig.mailbox.applyPidParams(1);
    QCOMPARE(rig.settings().active[1].kp, 9.0);
    QCOMPARE(rig.settings().active[0].kp, PidParameters().kp);
}

void TestSimMailbox::versionsOfCurrentAndOldFirmware()
{
    SimRig rig;
    QString ts, sw, pid;
    QCOMPARE(rig.mailbox.readVersions(&ts, &sw, &pid), 0);
    QCOMPARE(sw, QStringLiteral("1.0.03"));
    QCOMPARE(pid, QStringLiteral("1.2.05"));
    QCOMPARE(ts, QStringLiteral("1719835200"));
    QVERIFY(QStringLiteral("1.0.02") < sw); // the program shows its newer features

    Scenario s = SimRig::quiet();
    s.versionCommands = false;
    SimRig old(s);
    QCOMPARE(old.mailbox.readVersions(&ts, &sw, &pid), 0);
    QCOMPARE(sw, QStringLiteral("0.0.90"));
    QCOMPARE(ts, QStringLiteral("1406615411"));
    // Nor does it know the display-rate command: the stream stays at 1000/s.
    zevo::MailboxMessage rate(zevo::cmd::SetDisplayFrequency);
    rate.setU32(8, 2000);
    QVERIFY(old.transfer(rate).unknownCommand());
    const uint64_t n0 = old.recordsProduced();
    old.advance(1.0);
    QCOMPARE(old.recordsProduced() - n0, uint64_t(1000));
}

void TestSimMailbox::unknownCommandsAndBadArguments()
{
    SimRig rig;
    for (uint32_t word : {0x05000101u, 0x00000000u, 0x01000600u, 0x02000c01u, 0x03000200u}) {
        const zevo::MailboxMessage reply = rig.transfer(zevo::MailboxMessage(word));
        QCOMPARE(reply.replyStatus(), zevo::kReplyUnknownCommand);
        QCOMPARE(reply.command() & ~zevo::kReplyStatusMask, word & ~zevo::kReplyStatusMask);
    }
    const zevo::MailboxMessage known = rig.transfer(zevo::MailboxMessage(zevo::cmd::ReadPidStatus));
    QVERIFY(known.acknowledged());
    QVERIFY(!known.unknownCommand());

    // Understood but refused: no acknowledge, nothing changed.
    zevo::MailboxMessage setpoint(zevo::cmd::SetSetpoint);
    setpoint.setU8(4, 7);
    setpoint.setF64(8, 1.0);
    const zevo::MailboxMessage refused = rig.transfer(setpoint);
    QVERIFY(!refused.acknowledged());
    QVERIFY(!refused.unknownCommand());
    QVERIFY(!rig.mailbox.setPidSources(2, 0, 0));
    QCOMPARE(rig.settings().pidSource[0], 0);
}

void TestSimMailbox::slotsAndNodesFollowThePluggedDevices()
{
    SimRig rig;
    QCOMPARE(rig.mailbox.deviceCount(), 2);
    QVERIFY(!rig.mailbox.pavunPresent());
    const auto records = rig.mailbox.slotRecords();
    QCOMPARE(records[0].deviceId, uint16_t(0x2101));
    QCOMPARE(records[1].deviceId, uint16_t(0x2101));
    QCOMPARE(records[2].deviceId, uint16_t(0x2200));
    QCOMPARE(records[3].deviceId, uint16_t(0));
    QVERIFY(records[0].serial != records[1].serial);

    const int fd = rig.driver.open(zevo::kPico1Node, O_RDONLY);
    QVERIFY(fd >= 0);

    // The second picoammeter goes, an encoder interface comes.
    rig.driver.changeScenario([](Scenario& s) {
        s.setSecondPicoPlugged(false);
        s.setEncoderPlugged(true);
    });
    zevo::PicoInfoRecord info{};
    errno = 0;
    QCOMPARE(rig.driver.ioctl(fd, zevo::AMM_IOC_GET_INFO, &info), -1);
    QCOMPARE(errno, ENODEV);
    errno = 0;
    QCOMPARE(rig.driver.open(zevo::kPico1Node, O_RDONLY), -1);
    QCOMPARE(errno, ENODEV);
    QCOMPARE(rig.driver.close(fd), 0);

    rig.mailbox.scanSlots();
    QCOMPARE(rig.mailbox.deviceCount(), 2);
    QVERIFY(rig.mailbox.pavunPresent());
    QCOMPARE(rig.mailbox.slotRecords()[3].deviceId, uint16_t(0x2300));
    QCOMPARE(rig.mailbox.slotRecords()[1].deviceId, uint16_t(0));
}

void TestSimMailbox::nodeRequestsAreCheckedLikeTheKernelDriver()
{
    SimRig rig;
    errno = 0;
    QCOMPARE(rig.driver.open("/dev/zevo_nothing", O_RDONLY), -1);
    QCOMPARE(errno, ENOENT);
    QCOMPARE(rig.driver.close(12345), -1);
    QCOMPARE(errno, EBADF);
    const int mbox = rig.driver.open(zevo::kMailboxNode, O_RDWR);
    zevo::DacOutputRecord out{{1, 2, 3, 4}, 1};
    QCOMPARE(rig.driver.ioctl(mbox, zevo::DAC_IOC_SET_OUTPUTS, &out), -1);
    QCOMPARE(errno, ENOTTY);
    const int dacReadOnly = rig.driver.open(zevo::kDacNode, O_RDONLY);
    QCOMPARE(rig.driver.ioctl(dacReadOnly, zevo::DAC_IOC_SET_OUTPUTS, &out), -1);
    QCOMPARE(errno, EBADF);
}

void TestSimMailbox::statusBlockHoldsTheLastSecond()
{
    SimRig rig;
    rig.mailbox.setOutputsFromController(false);
    rig.hostOutputs(5.2, 5.3, 6.0);
    rig.advance(1.2);
    const double x = BeamlineModel::positionGain(0, 0) * 0.1;
    zevo::BpmStatistics s = rig.statistics();
    QVERIFY(std::fabs(s.xMean - x) < 1e-4);
    QVERIFY(std::fabs(s.yMean) < 1e-3);
    QVERIFY(s.xStd < 1e-9);
    QVERIFY(s.i0Mean > 10e-6);

    // Half a second later half of the second lies after a step back.
    rig.hostOutputs(5.1, 5.3, 6.0);
    rig.advance(0.5);
    s = rig.statistics();
    QVERIFY(std::fabs(s.xMean - x / 2) < 0.05 * x);
    QVERIFY(s.xStd > 0.4 * x);

    // With noise, the millisecond means scatter less than the samples (the
    // 37 Hz vibration survives the averaging, the jitter does not).
    Scenario noisy;
    noisy.driftLevel = 0.0;
    SimRig rig2(noisy);
    rig2.advance(1.1);
    s = rig2.statistics();
    QVERIFY(s.xStd1kHz > 0);
    QVERIFY(s.xStd > 1.15 * s.xStd1kHz);
    QVERIFY(s.yStd > 1.15 * s.yStd1kHz);
    QVERIFY(rig2.statistics(1).i0Mean > 5e-6); // BPM 2 is there too
}

void TestSimMailbox::highVoltageRampsThroughItsStates()
{
    SimRig rig;
    rig.advance(0.01);
    zevo::PicoInfoRecord info = rig.info(0);
    QCOMPARE(info.hvState & 0xF, zevo::kHvOn);
    QCOMPARE(info.hvVoltage, 100.0f);
    const double i0At100 = rig.statistics().i0Mean;

    QCOMPARE(rig.mailbox.setHvVoltage(0, 300.0f), 0);
    rig.advance(0.5);
    info = rig.info(0);
    QCOMPARE(info.hvState & 0xF, zevo::kHvRising);
    QVERIFY(std::fabs(info.hvVoltage - 150.0f) < 2.0f);
    rig.advance(2.0);
    info = rig.info(0);
    QCOMPARE(info.hvState & 0xF, zevo::kHvOn);
    QCOMPARE(info.hvVoltage, 300.0f);

    QCOMPARE(rig.mailbox.setHvEnabled(false, 0), 0);
    rig.advance(0.1);
    QCOMPARE(rig.info(0).hvState & 0xF, zevo::kHvFalling);
    rig.advance(3.5);
    info = rig.info(0);
    QCOMPARE(info.hvState & 0xF, zevo::kHvOff);
    QCOMPARE(info.hvVoltage, 0.0f);
    // An unbiased detector collects less of the beam.
    rig.advance(1.0);
    QVERIFY(rig.statistics().i0Mean < 0.8 * i0At100);
    QCOMPARE(rig.info(1).hvState & 0xF, zevo::kHvOn); // the other one was left alone
}

void TestSimMailbox::rangeLimitsTheInputCurrents()
{
    SimRig rig;
    rig.advance(0.01);
    const zevo::PicoCurrentsRecord wide = rig.currents(0);
    QVERIFY(zevo::channelCurrent(wide, 0) > 5e-6);

    rig.mailbox.setPicoRange(1, 0); // 100 nA: the microampere currents saturate
    rig.advance(0.01);
    const zevo::PicoCurrentsRecord narrow = rig.currents(0);
    for (int c = 0; c < 4; ++c) {
        QVERIFY(zevo::channelCurrent(narrow, c) <= 1.05e-7 * 1.0001);
        QVERIFY(zevo::channelCurrent(narrow, c) > 0.9e-7);
    }
    // The information record carries the same readings in its own order.
    const zevo::PicoInfoRecord info = rig.info(0);
    QCOMPARE(info.currentCh1, zevo::channelCurrent(narrow, 0));
    QCOMPARE(info.currentCh4, zevo::channelCurrent(narrow, 3));
}

QTEST_GUILESS_MAIN(TestSimMailbox)
#include "tst_simmailbox.moc"
