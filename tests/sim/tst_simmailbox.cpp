// The virtual controller as the program's mailbox communicator sees it:
// settings come back as sent, land in the right firmware fields, unknown
// commands are refused, slots and nodes follow the plugged devices.

#include "simrig.h"
#include "support/bytes.h"

#include <QtTest>

#include <cerrno>
#include <tuple>

using V = QVector<double>;

// A request's result and the errno it leaves, as one pair.
template <typename F> std::pair<int, int> resultAndErrno(F call)
{
    errno = 0;
    const int result = int(call());
    return {result, errno};
}
#define FAILS_WITH(call) resultAndErrno([&] { return call; })

class TestSimMailbox : public QObject
{
    Q_OBJECT

private slots:
    void readableSettingsComeBackAsSent_writeOnlyReachTheirFields()
    {
        SimRig rig;
        MailboxComm& mb = rig.mailbox;
        for (bool on : {false, true}) {
            QCOMPARE(mb.setOutputsFromController(on), 0);
            QCOMPARE(mb.readOutputsFromController(), unsigned(on));
        }

        for (const auto& [rate, filtered, read] :
             {std::tuple{3000, true, 1e8 / 33333}, std::tuple{50000, false, 50000.0}}) {
            bool filter = !filtered;
            rig.setDisplayRate(rate, filtered);
            QCOMPARE(mb.readDisplayFrequency(&filter), read);
            QCOMPARE(filter, filtered);
        }

        int x = -1, y = -1, i0 = -1;
        QVERIFY(mb.setPidSources(1, 0, 1));
        QVERIFY(mb.readPidSources(&x, &y, &i0));
        QCOMPARE(QVector<int>({x, y, i0}), QVector<int>({1, 0, 1}));

        // Read by a communicator without copies of its own: every value comes
        // from the controller.
        MailboxComm other(rig.driver);
        other.doSetupOnNewThread();
        QCOMPARE(mb.setSetpoints(0.0125, 9.0, 3.5e-6), 0);
        mb.setSetpointY(-0.5);
        double sp[3] = {};
        QCOMPARE(other.readSetpoints(&sp[0], &sp[1], &sp[2]), 0);
        QCOMPARE(V(sp, sp + 3), V({0.0125, -0.5, 3.5e-6}));
        for (int mode = zevo::MODE_X; mode <= zevo::MODE_I0; ++mode) {
            mb.setRegulationMode(mode);
            QCOMPARE(other.readRegulationMode(), mode);
        }

        for (const bool odd : {false, true}) {
            QCOMPARE(mb.setRocEnables(!odd, odd, !odd, odd, !odd, odd), 0);
            bool r[6];
            mb.readRocEnables(&r[0], &r[1], &r[2], &r[3], &r[4], &r[5]);
            QCOMPARE(QVector<bool>(r, r + 6), QVector<bool>({!odd, odd, !odd, odd, !odd, odd}));
        }

        // Each write-only setting lands in its own firmware field and leaves
        // the other BPM's alone.
        const FirmwareSettings b = rig.settings();

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
        QCOMPARE(V({s.scaleX[1], s.scaleY[1], s.scaleX[0]}), V({2.5, 3.5, b.scaleX[0]}));
        QCOMPARE(V({double(s.pidDivider[2]), double(s.pidDivider[0])}),
                 V({33, double(b.pidDivider[0])}));
        QCOMPARE(QVector<int>(s.channelMap[1], s.channelMap[1] + 4), QVector<int>({3, 2, 1, 0}));
        QCOMPARE(QVector<int>(s.channelMap[0], s.channelMap[0] + 4),
                 QVector<int>(b.channelMap[0], b.channelMap[0] + 4));
        QCOMPARE(QVector<bool>({s.orientation90[0], s.orientation90[1]}),
                 QVector<bool>({false, true}));
        QCOMPARE(V({s.offsetX[1], s.offsetY[1], s.offsetX[0]}), V({0.01, -0.02, b.offsetX[0]}));
        QCOMPARE(V(s.pidOffset, s.pidOffset + 3), V({4.5, 5.5, 6.5}));
        QCOMPARE(V({s.rocHigh[4], s.rocHigh[3]}), V({0.33, b.rocHigh[3]}));
        QCOMPARE(QVector<int>(s.dacAssignment, s.dacAssignment + 3), QVector<int>({2, 0, 1}));
        QCOMPARE(
            V({double(s.hvEnabled[1]), double(s.hvEnabled[0]), s.hvSet[1], double(s.picoRange[0])}),
            V({0, 1, 250.5, 1}));
        const PidParameters& p = s.active[1];
        QCOMPARE(V({p.kp, p.ki, p.kd, p.eMin, p.iMax, p.oMin, p.oMax, p.oGain}),
                 V({1, 2, 3, 4, 5, -6, 7, 8}));

        // The outputs follow: the X loop, at its offset, now drives output 3.
        rig.advance(0.002);
        QCOMPARE(rig.last().value[zevo::disp::Dac1 + 2], 4.5);

        // A parameter block on its own (the Y loop's gains, kp 9) is staged;
        // the loop keeps its parameters until they are applied.
        QVERIFY(rig.transfer(messageOf("00010002 01000000 0000000000002240")).acknowledged());

        QCOMPARE(rig.settings().active[1].kp, 1.0);
        mb.applyPidParams(1);
        QCOMPARE(V({rig.settings().active[1].kp, rig.settings().active[0].kp}),
                 V({9.0, PidParameters().kp}));
    }

    void versionsOfCurrentAndOldFirmware_unknownCommandsAndBadArguments()
    {
        SimRig rig;
        QString ts, sw, pid;
        QCOMPARE(rig.mailbox.readVersions(&ts, &sw, &pid), 0);
        QCOMPARE(QStringList({ts, sw, pid}), QStringList({"1719835200", "1.0.03", "1.2.05"}));

        Scenario s = SimFixture::quiet();
        s.versionCommands = false;
        SimRig old(s);
        QCOMPARE(old.mailbox.readVersions(&ts, &sw, &pid), 0);
        QCOMPARE(sw, QStringLiteral("0.0.90"));
        // Nor does it know the display-rate command (2000/s): the stream stays at 1000/s.
        QVERIFY(old.transfer(messageOf("00090001 00000000 d0070000")).unknownCommand());
        const uint64_t n0 = old.recordsProduced();
        old.advance(1.0);
        QCOMPARE(old.recordsProduced() - n0, uint64_t(1000));

        // Unknown commands and bad arguments, on current firmware.
        for (uint32_t word : {0x05000101u, 0x00000000u, 0x01000600u, 0x02000c01u, 0x03000200u})
            QCOMPARE(rig.transfer(zevo::MailboxMessage(word)).command(),
                     (word & ~zevo::kReplyStatusMask) | zevo::kReplyUnknownCommand);
        const auto known = rig.transfer(zevo::MailboxMessage(zevo::cmd::ReadPidStatus));
        QVERIFY(known.acknowledged() && !known.unknownCommand());

        // Understood but refused (a setpoint of loop 7, which is none): no acknowledge, nothing
        // changed.
        QCOMPARE(rig.transfer(messageOf("00020002 07000000 000000000000f03f")).replyStatus(), 0u);
        QVERIFY(!rig.mailbox.setPidSources(2, 0, 0));
        QCOMPARE(rig.settings().pidSource[0], 0);
    }

    // Slots and nodes follow the plugged devices; requests are checked as
    // the kernel driver checks them.
    void slotsAndNodesFollowThePluggedDevices()
    {
        SimRig rig;
        auto ids = [&rig] {
            QVector<int> v;
            for (const zevo::SlotRecord& r : rig.mailbox.slotRecords())
                v << r.deviceId;
            return v;
        };
        QCOMPARE(ids(), QVector<int>({0x2101, 0x2101, 0x2200, 0}));
        QVERIFY(rig.mailbox.slotRecords()[0].serial != rig.mailbox.slotRecords()[1].serial);
        // Slot A's reply bytes 8 to 21 as the controller sends them: id, hardware
        // version 3, firmware 1.4.0.2 last character first, serial 21010417.
        const zevo::MailboxMessage slotA = rig.transfer(zevo::MailboxMessage(zevo::cmd::ReadSlot));
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(slotA.bytes) + 8, 14).toHex(' '),
                 QByteArray("01 21 03 00 00 00 32 30 34 31 f1 97 40 01"));
        const int fd = rig.driver.open(zevo::kPico1Node, O_RDONLY);
        QVERIFY(fd >= 0);

        // The second picoammeter goes, an encoder interface comes.
        rig.driver.changeScenario([](Scenario& s) {
            s.setSecondPicoPlugged(false);
            s.setEncoderPlugged(true);
        });
        zevo::PicoInfoRecord info{};
        QCOMPARE(FAILS_WITH(rig.driver.ioctl(fd, zevo::AMM_IOC_GET_INFO, &info)),
                 std::make_pair(-1, ENODEV));
        QCOMPARE(FAILS_WITH(rig.driver.open(zevo::kPico1Node, O_RDONLY)),
                 std::make_pair(-1, ENODEV));
        QCOMPARE(rig.driver.close(fd), 0);

        rig.mailbox.scanSlots();
        QCOMPARE(ids(), QVector<int>({0x2101, 0, 0x2200, 0x2300}));

        QCOMPARE(FAILS_WITH(rig.driver.open("/dev/zevo_nothing", O_RDONLY)),
                 std::make_pair(-1, ENOENT));
        QCOMPARE(FAILS_WITH(rig.driver.close(12345)), std::make_pair(-1, EBADF));
        const int mbox = rig.driver.open(zevo::kMailboxNode, O_RDWR);
        zevo::DacOutputRecord out{{1, 2, 3, 4}, 1};
        QCOMPARE(FAILS_WITH(rig.driver.ioctl(mbox, zevo::DAC_IOC_SET_OUTPUTS, &out)),
                 std::make_pair(-1, ENOTTY));
        const int dacReadOnly = rig.driver.open(zevo::kDacNode, O_RDONLY);
        QCOMPARE(FAILS_WITH(rig.driver.ioctl(dacReadOnly, zevo::DAC_IOC_SET_OUTPUTS, &out)),
                 std::make_pair(-1, EBADF));
    }

    void statusBlockHoldsTheLastSecond()
    {
        SimRig rig;
        rig.hostOutputs(5.2, 5.3, 6.0);
        rig.advance(1.2);
        const double x = BeamlineModel::positionGain(0, 0) * 0.1;
        zevo::BpmStatistics s = rig.statistics();
        QVERIFY_NEAR(s.xMean, x, 1e-4);
        QVERIFY_NEAR(s.yMean, 0.0, 1e-3);
        QVERIFY(s.xStd < 1e-9 && s.i0Mean > 10e-6);

        // Half a second later half of the second lies after a step back.
        rig.hostOutputs(5.1, 5.3, 6.0);
        rig.advance(0.5);
        s = rig.statistics();
        QVERIFY_NEAR(s.xMean, x / 2, 0.05 * x);
        QVERIFY(s.xStd > 0.4 * x);

        // With noise, the millisecond means scatter less than the samples (the
        // 37 Hz vibration survives the averaging, the jitter does not).
        Scenario noisy;
        noisy.driftLevel = 0.0;
        SimRig rig2(noisy);
        rig2.advance(1.1);
        s = rig2.statistics();
        QVERIFY(s.xStd1kHz > 0 && s.xStd > 1.15 * s.xStd1kHz && s.yStd > 1.15 * s.yStd1kHz);
        QVERIFY(rig2.statistics(1).i0Mean > 5e-6); // BPM 2 is there too
    }

    void highVoltageRampsThroughItsStates()
    {
        SimRig rig;
        auto hvAfter = [&rig](double seconds) {
            rig.advance(seconds);
            const zevo::PicoInfoRecord info = rig.info(0);
            return std::make_pair(info.hvState & 0xF, info.hvVoltage);
        };
        QCOMPARE(hvAfter(0.01), std::make_pair(zevo::kHvOn, 100.0f));
        const double i0At100 = rig.statistics().i0Mean;

        QCOMPARE(rig.mailbox.setHvVoltage(0, 300.0f), 0);
        const auto rising = hvAfter(0.5);
        QCOMPARE(rising.first, zevo::kHvRising);
        QVERIFY_NEAR(rising.second, 150.0f, 2.0f);
        QCOMPARE(hvAfter(2.0), std::make_pair(zevo::kHvOn, 300.0f));

        QCOMPARE(rig.mailbox.setHvEnabled(false, 0), 0);
        QCOMPARE(hvAfter(0.1).first, zevo::kHvFalling);
        QCOMPARE(hvAfter(3.5), std::make_pair(zevo::kHvOff, 0.0f));
        // An unbiased detector collects less of the beam; the other one was left alone.
        rig.advance(1.0);
        QVERIFY(rig.statistics().i0Mean < 0.8 * i0At100);
        QCOMPARE(rig.info(1).hvState & 0xF, zevo::kHvOn);
    }

    void rangeLimitsTheInputCurrents()
    {
        SimRig rig;
        rig.advance(0.01);
        QVERIFY(zevo::channelCurrent(rig.currents(0), 0) > 5e-6);

        rig.mailbox.setPicoRange(1, 0); // 100 nA: the microampere currents saturate
        rig.advance(0.01);
        const zevo::PicoCurrentsRecord narrow = rig.currents(0);
        for (int c = 0; c < 4; ++c)
            QVERIFY(zevo::channelCurrent(narrow, c) <= 1.05e-7 * 1.0001 &&
                    zevo::channelCurrent(narrow, c) > 0.9e-7);
        // The information record carries the same readings in its own order.
        // Its doubles are unaligned: compare copies, never references to them.
        const zevo::PicoInfoRecord info = rig.info(0);
        QCOMPARE(double(info.currentCh1), zevo::channelCurrent(narrow, 0));
        QCOMPARE(double(info.currentCh4), zevo::channelCurrent(narrow, 3));
    }
};

QTEST_GUILESS_MAIN(TestSimMailbox)
#include "tst_simmailbox.moc"
