// What crosses the driver boundary. The production driver on a computer
// without the feedback hardware: no acquisition library and no device nodes;
// every call fails with a negative result and a fetch writes nothing, so that
// the display cycle can tell a missing driver from a buffer. The bytes of
// every mailbox operation, checked against vectors written out
// by hand from the message layout, the decoding of replies, and the other
// records that cross the driver boundary. Most record field offsets are
// pinned by static_asserts beside the record definitions; the statistics'
// spreads (nine doubles per BPM: mean, deviation, deviation at 1000 Hz of X,
// then Y, then I0) and where a slot's record sits in its reply are pinned
// here against the controller's layout. Where the display cycle finds each
// value of a display record is checked in tst_updater, the DAC output set as
// it leaves through the driver in tst_windowrockingcurve and tst_windowstepresponse.

#include "support/bytes.h"
#include "support/recordingdriver.h"

#include "device/globals.h"
#include "device/hardwaredriver.h"
#include "device/mailboxcomm.h"
#include "device/picocurrents.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

using namespace zevo;

static_assert(offsetof(BpmStatistics, xStd) == 8 && offsetof(BpmStatistics, xStd1kHz) == 16 &&
                  offsetof(BpmStatistics, yStd) == 32 && offsetof(BpmStatistics, yStd1kHz) == 40 &&
                  offsetof(BpmStatistics, i0Std) == 56,
              "BPM statistics as the controller writes them");
static_assert(kSlotReplyOffset == 8, "a slot's record is bytes 8 to 21 of its ReadSlot reply");

namespace
{

// Expected message bytes, written out by hand: command word, b4-b7, then
// the value bytes from offset 8; bytes not written out must be zero.
struct Golden {
    const char* name;
    std::function<void(MailboxComm&)> call;
    std::vector<const char*> sent;
};

// clang-format off
#define ROW(call, ...) {#call, [](MailboxComm& c) { c.call; }, {__VA_ARGS__}}
const std::vector<Golden>& goldenTable()
{
    static const std::vector<Golden> table = {
    ROW(readVersions(nullptr, nullptr, nullptr), "01010000", "01020000", "01030000"),
    ROW(setBpmScale(1, 2.0, 0.5), "00040000 01000000 0000000000000040 000000000000e03f"),
    ROW(setPidDivider(2, 100000), "00020001 a0860100 02"),
    ROW(setBpmChannelMap(3, 2, 1, 0, 1), "00030001 01000000 03020100"),
    ROW(setBpmOrientation(1, 1), "00040001 01000000 01"),
    ROW(setFeedbackEnabled(true), "00050001 01"),
    ROW(setOutputsFromController(true), "00070001 01"),
    ROW(readOutputsFromController(), "01070001"),
    {"setDisplayFrequency 3000 Hz", [](MailboxComm& c) { SAMP_FREQ = 3000; c.setDisplayFrequency(true); },
     {"00090001 01000000 35820000"}},
    ROW(readDisplayFrequency(), "01090001"),
    ROW(setBpmOffsets(1, 2.0, -1.0), "000a0001 03000000 0000000000000040",
        "000a0001 02000000 000000000000f0bf"),
    ROW(setPidSources(1, 0, 1), "000b0001 01000100"),
    ROW(readPidSources(nullptr, nullptr, nullptr), "010b0001"),
    ROW(setPidParams(1, 1.0, 2.0, 3.0, 0.5, 4.0, -2.0, 10.0, 1.5),
        "00010002 01000000 000000000000f03f 0000000000000040 0000000000000840",
        "00010002 01100000 000000000000e03f 0000000000001040",
        "00010002 01200000 00000000000000c0 0000000000002440 000000000000f83f", "00080002 01"),
    ROW(setSetpointX(0.5), "00020002 00000000 000000000000e03f"),
    ROW(setSetpointY(-1.0), "00020002 01000000 000000000000f0bf"),
    ROW(setSetpoints(1.0, 2.0, 0.25), "00020002 00000000 000000000000f03f",
        "00020002 01000000 0000000000000040", "00020002 02000000 000000000000d03f"),
    ROW(readSetpoints(nullptr, nullptr, nullptr), "01020002 00", "01020002 01", "01020002 02"),
    ROW(setRegulationMode(5), "00030002 05"),
    ROW(readRegulationMode(), "01030002"),
    ROW(setPidOffsets(1.0, -1.0, 0.5), "00050002 00000000 000000000000f03f",
        "00050002 01000000 000000000000f0bf", "00050002 02000000 000000000000e03f"),
    ROW(setRocLimit(4, 0.0, 100.0), "00060002 04000000 0000000000000000 0000000000005940"),
    ROW(readPidStatus(), "01070002"),
    ROW(applyPidParams(2), "00080002 02"),
    ROW(resetPidController(), "00090002"),
    ROW(setDacAssignment(2, 0, 1), "000a0002 00000000 020001"),
    ROW(setRocEnables(true, false, true, false, true, true), "000b0002 01000100 0101"),
    ROW(readRocEnables(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), "010b0002"),
    ROW(scanSlots(), "01020003 00", "01020003 01", "01020003 02", "01020003 03"),
    ROW(setHvEnabled(true, 1), "00010004 01000000 01"),
    ROW(setHvVoltage(1, 120.5f), "00020004 01000000 0000f142"),
    ROW(setPicoRange(3, 0), "00030004 00000000 03"),
    };
    return table;
}
#undef ROW
// clang-format on

// Messages of each multi-message operation below (the PID parameters: three
// blocks, then the apply).
const int kMessages[] = {4, 3, 3, 3, 2, 3};

} // namespace

class TstDriverBoundary : public QObject
{
    Q_OBJECT

    std::unique_ptr<RecordingDriver> driver;
    std::unique_ptr<MailboxComm> comm;

    // Scripted replies, in hex, for the next transfers.
    void reply(std::initializer_list<const char*> hex, int result = 0)
    {
        for (const char* h : hex)
            driver->queueReply(messageOf(h), result);
    }

private slots:
    void init()
    {
        SAMP_FREQ = 1000;
        comm.reset(); // before the driver it talks to
        driver = std::make_unique<RecordingDriver>();
        comm = std::make_unique<MailboxComm>(*driver);
        comm->doSetupOnNewThread();
        driver->clearCalls();
    }

    // A library that is not there, and one that loads but has no getBuffer:
    // -1 on every call, never a count, and the destination untouched.
    // Missing nodes do not open; requests on a descriptor that is not open,
    // or that is not a node of the driver, fail.
    void withoutLibraryOrNodes_everyCallFails_data()
    {
        QTest::addColumn<QByteArray>("library");
        QTest::newRow("no library") << QByteArray("libzevo-absent.so.1");
        QTest::newRow("no getBuffer symbol") << QByteArray("libm.so.6");
    }
    void withoutLibraryOrNodes_everyCallFails()
    {
        QFETCH(QByteArray, library);
        HardwareDriver driver(library.constData());
        std::vector<DisplayRecord> buffer(4);
        std::memset(buffer.data(), 0x5a, buffer.size() * sizeof(DisplayRecord));
        const std::vector<DisplayRecord> before = buffer;
        for (int attempt = 0; attempt < 2; ++attempt)
            QCOMPARE(driver.getBuffer(buffer.data(), int(buffer.size())), -1);
        QVERIFY(std::memcmp(buffer.data(), before.data(), sizeof(DisplayRecord) * 4) == 0);

        QTemporaryDir dir;
        QCOMPARE(driver.open(QFile::encodeName(dir.filePath("zevo_mailbox")).constData(), O_RDWR),
                 -1);
        QCOMPARE(errno, ENOENT);
        MailboxMessage message(cmd::ReadSwVersion);
        DacOutputRecord outputs{};
        char bytes[16];
        const int other = driver.open("/dev/null", O_RDWR);
        QVERIFY(other >= 0);
        QVERIFY(driver.ioctl(other, MBOX_IOC_TRANSFER, &message) < 0);
        QCOMPARE(driver.close(other), 0);
        // Closed: the descriptor is gone for every call.
        QVERIFY(driver.ioctl(other, DAC_IOC_SET_OUTPUTS, &outputs) < 0);
        QVERIFY(driver.read(other, bytes, sizeof bytes) < 0);
        QVERIFY(driver.close(other) < 0);
    }

    // The driver's request codes. (The slot record's layout and its place in
    // the reply are fixed at compile time, in the record's header and above;
    // that it is copied from there is checked on every input of
    // fuzz_mailbox.)
    void requestCodes()
    {
        QCOMPARE(
            QVector<unsigned long>({MBOX_IOC_TRANSFER, MBOX_IOC_READ_STATUS, AMM_IOC_GET_INFO,
                                    AMM_IOC_READ_CURRENTS, DAC_IOC_SET_OUTPUTS}),
            QVector<unsigned long>({0xc008420a, 0x8008420b, 0x80084214, 0x8008421e, 0x40084228}));
    }

    // Element 3 - c is channel c; a driver that writes far more than the four
    // currents must not overrun the caller, and a failed read changes nothing.
    void currents_firstFourValuesFromALongerReply()
    {
        QByteArray bytes = QByteArray::fromHex("0000000000001040 0000000000000840"
                                               "0000000000000040 000000000000f03f");
        bytes.append(QByteArray(int(kPicoCurrentsReplyBytes) - bytes.size(), '\xee'));
        driver->setPicoCurrentsReply(bytes);
        const int fd = driver->open(kPico0Node, O_RDWR | O_SYNC);

        PicoCurrentsRecord record{};
        QCOMPARE(readPicoCurrents(*driver, fd, record), 0);
        QCOMPARE(QVector<double>({channelCurrent(record, 0), channelCurrent(record, 1),
                                  channelCurrent(record, 2), channelCurrent(record, 3)}),
                 QVector<double>({1.0, 2.0, 3.0, 4.0}));

        driver->failRequest(AMM_IOC_READ_CURRENTS);
        PicoCurrentsRecord kept{{9, 9, 9, 9}};
        QVERIFY(readPicoCurrents(*driver, fd, kept) < 0);
        QCOMPARE(kept.current[0], 9.0);
    }

    void goldenBytes_data()
    {
        QTest::addColumn<int>("row");
        for (std::size_t i = 0; i < goldenTable().size(); ++i)
            QTest::newRow(goldenTable()[i].name) << int(i);
    }
    void goldenBytes()
    {
        QFETCH(int, row);
        const Golden& golden = goldenTable()[row];
        golden.call(*comm);
        QCOMPARE(hexOf(driver->transfers()), goldenHex(golden.sent));
        QCOMPARE(driver->countCalls(RecordingDriver::Call::Ioctl), int(golden.sent.size()));
    }

    // Replies a round trip through the virtual controller cannot pin down:
    // signed fields, unacknowledged replies, flag bytes, version words,
    // indices out of range, missing dividers and version commands, failures.
    void repliesDecoded_outOfRangeIndicesKeepLastKnown()
    {
        QCOMPARE(comm->readRegulationMode(), 0); // the default until the controller says
        int x = 9, y = 9, i0 = 9;
        reply({"030b0001 010001"});
        QVERIFY(comm->readPidSources(&x, &y, &i0));
        QCOMPARE(QVector<int>({x, y, i0}), QVector<int>({1, 0, 1}));
        reply({"010b0001 010101"}); // not acknowledged: fields are not valid
        QVERIFY(!comm->readPidSources(&x, &y, &i0));
        QCOMPARE(QVector<int>({x, y, i0}), QVector<int>({0, 0, 0}));

        reply({"03030002 06", "03070002 03"});
        QCOMPARE(
            QVector<int>({comm->readRegulationMode(), comm->regulationModeCopy(),
                          comm->readPidStatus(), comm->pidStatus()}),
            QVector<int>({zevo::MODE_I0, zevo::MODE_I0, zevo::PID_STATUS_ON, zevo::PID_STATUS_ON}));

        bool e[6] = {false, true, false, true, true, false};
        reply({"030b0002 01000200 0005"});
        comm->readRocEnables(&e[0], &e[1], &e[2], &e[3], &e[4], &e[5]);
        QCOMPARE(QVector<bool>(e, e + 6), QVector<bool>({true, false, true, false, false, true}));

        QString hw, sw, pid;
        reply({"03010000 04030201", "03020000 78563412", "03030000 01000002"});
        QCOMPARE(comm->readVersions(&hw, &sw, &pid), 0);
        QCOMPARE(QStringList({hw, sw, pid}), QStringList({"305419896", "4.3.21", "1.0.02"}));

        // Replies that later index a table (loop sources, mode, feedback
        // state) are taken only in range; otherwise the last known value
        // stays (at start-up the default, as read first above).
        x = i0 = 1;
        y = 0;
        reply({"030b0001 02ff7f"});
        QVERIFY(!comm->readPidSources(&x, &y, &i0));
        QCOMPARE(QVector<int>({x, y, i0}), QVector<int>({1, 0, 1}));
        reply({"030b0001 00ff01"}); // one bad source spoils only itself
        QVERIFY(!comm->readPidSources(&x, &y, &i0));
        QCOMPARE(QVector<int>({x, y, i0}), QVector<int>({0, 0, 1}));

        const auto modeNow = [&] {
            return QVector<int>({comm->readRegulationMode(), comm->regulationModeCopy()});
        };
        for (const char* bad : {"03030002 07", "03030002 fe", "03030002 80"}) {
            reply({"03030002 04", bad});
            QCOMPARE(modeNow() + modeNow(), QVector<int>(4, zevo::MODE_Y_I0));
        }
        const auto statusNow = [&] {
            return QVector<int>({comm->readPidStatus(), comm->pidStatus()});
        };
        for (const char* bad : {"03070002 04", "03070002 ff"}) {
            reply({"03070002 02", bad});
            QCOMPARE(statusNow() + statusNow(), QVector<int>(4, zevo::PID_STATUS_BEAM_OFF));
        }

        // The poll re-reads the sources when the device count changes; a
        // nonsense answer leaves the process-wide sources as they were.
        pidSourceX = pidSourceY = 1;
        pidSourceI0 = 0;
        driver->defaultReply = [](MailboxMessage& m) {
            m.setU32(0, m.command() | zevo::kReplyAcknowledged);
            if (m.command() == (zevo::cmd::ReadSlot | zevo::kReplyAcknowledged) && m.u8(4) == 0)
                m.setU32(8, 0x2101);
            if (m.command() == (zevo::cmd::ReadPidSources | zevo::kReplyAcknowledged))
                m.setU32(4, 0x00050505);
        };
        comm->scanSlots();
        QCOMPARE(comm->deviceCount(), 1);
        QCOMPARE(QVector<int>({pidSourceX, pidSourceY, pidSourceI0}), QVector<int>({1, 1, 0}));
        pidSourceX = pidSourceY = pidSourceI0 = 0;

        // A display rate without a divider sends nothing; a zero divider read
        // back is no rate; a controller that knows no version command gets one
        // message and the old firmware's versions; a failed request is not
        // decoded. (That every decoded value stays in bounds, whatever the
        // controller answers, is checked on every input of fuzz_mailbox.)
        driver->clearCalls();
        for (int rate : {0, -5, 200000000}) {
            SAMP_FREQ = rate;
            comm->setDisplayFrequency(false);
        }
        QCOMPARE(int(driver->transfers().size()), 0);
        reply({"03090001 01000000 00000000"});
        QCOMPARE(comm->readDisplayFrequency(), 0.0);

        driver->clearCalls();
        driver->defaultReply = [](MailboxMessage& m) { std::memset(m.bytes, 0xFF, 32); };
        // 0xF: the version commands are unknown; fixed versions after one message.
        QCOMPARE(comm->readVersions(&hw, &sw, &pid), 0);
        QCOMPARE(QStringList({hw, sw, pid}), QStringList({"1406615411", "0.0.90", "0.0.90"}));
        QCOMPARE(int(driver->transfers().size()), 1);

        // A failing request decodes as its own zero request, not as what the driver left.
        reply({"ffffffff ffffffff ffffffffffffffff"}, -1);
        QCOMPARE(comm->readPidStatus(), 0);
    }

    // A sequence of messages stops at the first that fails and says so; what
    // was read before the failure is kept, the caller's variables are not
    // written, the setpoint copies keep what was asked for.
    void multiMessageStopsAtFailure_data()
    {
        QTest::addColumn<int>("op");
        QTest::addColumn<int>("fail"); // 1-based message that fails; 0 none
        const char* names[] = {"setPidParams",  "setSetpoints",  "readSetpoints",
                               "setPidOffsets", "setBpmOffsets", "readVersions"};
        for (int op = 0; op < 6; ++op)
            for (int k = 0; k <= std::min(kMessages[op], 3); ++k)
                QTest::addRow("%s, message %d fails", names[op], k) << op << k;
    }
    void multiMessageStopsAtFailure()
    {
        QFETCH(int, op);
        QFETCH(int, fail);
        driver->defaultReply = [](MailboxMessage& m) {
            m.setU32(0, m.command() | zevo::kReplyAcknowledged);
            m.setF64(8, 10.0 + m.u8(4));
        };
        if (fail)
            driver->failTransfer(fail);
        double out[3] = {-7, -7, -7};
        QString text[3] = {"untouched", "untouched", "untouched"};
        const std::function<int()> calls[] = {
            [&] { return comm->setPidParams(1, 1, 2, 3, 4, 5, 6, 7, 8); },
            [&] { return comm->setSetpoints(1, 2, 3); },
            [&] { return comm->readSetpoints(&out[0], &out[1], &out[2]); },
            [&] { return comm->setPidOffsets(1, 2, 3); },
            [&] { return comm->setBpmOffsets(0, 1, 2); },
            [&] { return comm->readVersions(&text[0], &text[1], &text[2]); }};
        QCOMPARE(calls[op]() < 0, fail != 0);
        QCOMPARE(int(driver->transfers().size()), fail ? fail : kMessages[op]);

        const QVector<double> copies{comm->setpointCopyX(), comm->setpointCopyY(),
                                     comm->setpointCopyI0()};
        if (op == 1)
            QCOMPARE(copies, QVector<double>({1, 2, 3}));
        if (op == 2) { // copies of the replies before the failure; nothing to the caller
            QVector<double> expected{10, 11, 12, 10, 11, 12};
            for (int ch = 0; fail && ch < 3; ++ch) {
                expected[3 + ch] = -7;
                expected[ch] = ch < fail - 1 ? expected[ch] : 0.0;
            }
            QCOMPARE(copies + QVector<double>(out, out + 3), expected);
        }
        if (op == 5)
            QCOMPARE(int(QStringList({text[0], text[1], text[2]}).count("untouched")),
                     fail ? 3 : 0);
    }
};

QTEST_GUILESS_MAIN(TstDriverBoundary)
#include "tst_driverboundary.moc"
