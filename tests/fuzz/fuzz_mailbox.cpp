// Fuzz target: the mailbox communicator decoding whatever the controller
// answers. A driver hands out the fuzz bytes as the replies to the real
// requests of MailboxComm (versions, PID sources, setpoints, regulation
// mode, PID status, display rate, slot records, status block, and the
// multi-message writes), failing, short-changing or scribbling on requests
// as the input says. After each operation the decoded values must be ones
// the rest of the program can use: indices in range, texts well formed,
// outputs untouched when the operation failed, and no message sent after a
// failed one of the same sequence.

#include "fuzzinput.h"

#include "beamline/windowsfpstatus.h"
#include "device/driver.h"
#include "device/globals.h"
#include "device/mailboxcomm.h"

#include <QRegularExpression>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

using namespace zevo;

namespace
{

constexpr int kMailboxFd = 5;
constexpr int kMaxOperations = 48;

// One mailbox transfer as the driver saw it.
struct Transfer {
    uint32_t command = 0; // as sent
    uint8_t index = 0;    // byte 4 as sent
    int result = 0;
    MailboxMessage reply; // what the program got back (meaningful when result >= 0)
};

// The controller, speaking fuzz bytes. Each request takes one control byte:
//   bit 7    the request fails (negative result); with bit 6 the driver
//            scribbles input bytes over the message first
//   bit 5    the reply replaces all bytes, command word included; otherwise
//            the command word stays and its status nibble is bits 3..0
//   bit 4    a positive result instead of 0
// then the reply bytes; a reply cut short by the end of the input leaves the
// rest as sent. Once the input is used up every request fails.
class ReplyDriver : public Driver
{
public:
    ReplyDriver(FuzzInput& in, bool nodePresent) : m_in(in), m_nodePresent(nodePresent) {}

    int open(const char* path, int) override
    {
        return m_nodePresent && std::strcmp(path, kMailboxNode) == 0 ? kMailboxFd : -1;
    }
    int close(int) override { return 0; }
    ssize_t read(int, void*, size_t) override { return -1; }
    int getBuffer(void*, int) override { return -1; }

    int ioctl(int fd, unsigned long request, void* arg) override
    {
        FUZZ_CHECK(fd == kMailboxFd);
        if (request == MBOX_IOC_TRANSFER) {
            auto* message = static_cast<MailboxMessage*>(arg);
            const uint32_t command = message->command();
            const uint8_t index = message->u8(4);
            const int result = answer(message->bytes, MailboxMessage::kSize, true);
            transfers.push_back({command, index, result, *message});
            return result;
        }
        if (request == MBOX_IOC_READ_STATUS) {
            MailboxStatusBlock block{};
            const int result = answer(&block, sizeof block, false);
            if (result >= 0)
                lastGoodStatus = block;
            // The program's own buffer gets the garbage too, as a real driver
            // that fails halfway through might leave it.
            std::memcpy(arg, &block, sizeof block);
            return result;
        }
        return -1;
    }

    std::vector<Transfer> transfers;
    MailboxStatusBlock lastGoodStatus{};

private:
    int answer(void* bytes, std::size_t size, bool hasCommand)
    {
        if (m_in.empty())
            return -1;
        const uint8_t control = m_in.byte();
        auto* out = static_cast<unsigned char*>(bytes);
        if (control & 0x80) {
            if (control & 0x40)
                m_in.copy(out, size);
            return -1 - (control & 0x3F);
        }
        if (hasCommand && !(control & 0x20)) {
            uint32_t word;
            std::memcpy(&word, out, 4);
            word = (word & ~kReplyStatusMask) | (control & kReplyStatusMask);
            std::memcpy(out, &word, 4);
            m_in.copy(out + 4, size - 4);
        } else {
            m_in.copy(out, size);
        }
        return (control & 0x10) ? 1 + (control & 0x0F) : 0;
    }

    FuzzInput& m_in;
    bool m_nodePresent;
};

bool acceptedReply(const MailboxMessage& reply)
{
    const uint32_t status = reply.command() & kReplyStatusMask;
    return (status & kReplyAcknowledged) && status != kReplyUnknownCommand;
}

// Within one operation no message follows a failed one.
void checkStopsAtFailure(const std::vector<Transfer>& transfers, std::size_t first)
{
    for (std::size_t i = first; i + 1 < transfers.size(); ++i)
        FUZZ_CHECK(transfers[i].result >= 0);
}

bool isVersionText(const QString& text)
{
    static const QRegularExpression form(QStringLiteral("^\\d{1,3}\\.\\d{1,3}\\.\\d{2,6}$"));
    return form.match(text).hasMatch();
}

// The slot records as scanned, the device count and encoder flag derived
// from them, and their firmware text as the SFP window shows it.
void checkSlots(const MailboxComm& comm, const std::vector<Transfer>& scan)
{
    const auto records = comm.slotRecords();
    int devices = 0;
    bool pavun = false;
    for (int slot = 0; slot < kSlotCount; ++slot) {
        const SlotRecord& record = records[std::size_t(slot)];
        // The record is bytes 8 to 21 of this slot's reply, or empty when
        // the read failed.
        SlotRecord expected{};
        for (const Transfer& t : scan)
            if (t.command == cmd::ReadSlot && t.index == slot && t.result >= 0)
                std::memcpy(&expected, t.reply.bytes + kSlotReplyOffset, sizeof expected);
        FUZZ_CHECK(std::memcmp(&record, &expected, sizeof record) == 0);

        const uint8_t family = record.family();
        devices += family == kFamilyDorvish || family == kFamilyPavun;
        pavun = pavun || family == kFamilyPavun;

        const QString firmware = WindowSFPstatus::firmwareText(record);
        FUZZ_CHECK(firmware.size() == 7);
        for (int i = 0; i < firmware.size(); ++i) {
            const QChar c = firmware.at(i);
            FUZZ_CHECK(i % 2 ? c == QLatin1Char('.') : (c.unicode() >= 0x20 && c.unicode() < 0x7F));
        }
    }
    FUZZ_CHECK(comm.deviceCount() == devices);
    FUZZ_CHECK(comm.pavunPresent() == pavun);
    for (int source : {pidSourceX.load(), pidSourceY.load(), pidSourceI0.load()})
        FUZZ_CHECK(source == 0 || source == 1);
    FUZZ_CHECK(PID_BASE_FREQ.load() == 100000 || PID_BASE_FREQ.load() == 5000);
}

void runOperation(int op, FuzzInput& in, MailboxComm& comm, ReplyDriver& driver)
{
    const std::size_t first = driver.transfers.size();
    const auto sent = [&] {
        return std::vector<Transfer>(driver.transfers.begin() + std::ptrdiff_t(first),
                                     driver.transfers.end());
    };
    switch (op) {
    case 0: { // versions; any of the three strings may be left out
        const uint8_t wanted = in.byte();
        const QString untouched = QStringLiteral("untouched");
        QString hw = untouched, sw = untouched, pid = untouched;
        const int result = comm.readVersions(wanted & 1 ? &hw : nullptr, wanted & 2 ? &sw : nullptr,
                                             wanted & 4 ? &pid : nullptr);
        checkStopsAtFailure(driver.transfers, first);
        if (result < 0) {
            FUZZ_CHECK(hw == untouched && sw == untouched && pid == untouched);
            break;
        }
        static const QRegularExpression number(QStringLiteral("^\\d{1,10}$"));
        FUZZ_CHECK(result == 0 && (!(wanted & 1) || number.match(hw).hasMatch()));
        FUZZ_CHECK(!(wanted & 2) || isVersionText(sw));
        FUZZ_CHECK(!(wanted & 4) || isVersionText(pid));
        break;
    }
    case 1: { // PID sources: 0 or 1, or the caller's value kept
        int sources[3] = {7, 7, 7};
        const bool valid = comm.readPidSources(&sources[0], &sources[1], &sources[2]);
        const std::vector<Transfer> t = sent();
        FUZZ_CHECK(t.size() == (comm.isOpen() ? 1u : 0u));
        const bool ack = !t.empty() && t[0].result >= 0 && acceptedReply(t[0].reply);
        for (int source : sources)
            FUZZ_CHECK(ack ? source == 0 || source == 1 || source == 7 : source == 0);
        FUZZ_CHECK(!valid || (sources[0] != 7 && sources[1] != 7 && sources[2] != 7));
        break;
    }
    case 2: { // setpoints: written only when all three replies came
        const double untouched = 12345.0;
        double x = untouched, y = untouched, i0 = untouched;
        const uint8_t wanted = in.byte();
        const int result = comm.readSetpoints(wanted & 1 ? &x : nullptr, wanted & 2 ? &y : nullptr,
                                              wanted & 4 ? &i0 : nullptr);
        checkStopsAtFailure(driver.transfers, first);
        const auto same = [](double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; };
        if (result < 0) {
            FUZZ_CHECK(x == untouched && y == untouched && i0 == untouched);
        } else {
            FUZZ_CHECK(sent().size() == 3);
            FUZZ_CHECK(!(wanted & 1) || same(x, comm.setpointCopyX()));
            FUZZ_CHECK(!(wanted & 2) || same(y, comm.setpointCopyY()));
            FUZZ_CHECK(!(wanted & 4) || same(i0, comm.setpointCopyI0()));
        }
        break;
    }
    case 3: {
        const int mode = comm.readRegulationMode();
        FUZZ_CHECK(mode >= MODE_X && mode <= MODE_I0 && mode == comm.regulationModeCopy());
        break;
    }
    case 4: {
        const int status = comm.readPidStatus();
        FUZZ_CHECK(status >= PID_STATUS_OFF && status <= PID_STATUS_ON &&
                   status == comm.pidStatus());
        break;
    }
    case 5: {
        bool filter = false;
        const double hz = comm.readDisplayFrequency(in.flag() ? &filter : nullptr);
        FUZZ_CHECK(std::isfinite(hz) && hz >= 0.0 && hz <= double(kDisplayClockHz));
        break;
    }
    case 6:
        FUZZ_CHECK(comm.readOutputsFromController() <= 0xFF);
        break;
    case 7: {
        bool e[6];
        comm.readRocEnables(&e[0], &e[1], &e[2], &e[3], &e[4], &e[5]);
        break;
    }
    case 8:
        comm.scanSlots();
        checkSlots(comm, sent());
        break;
    case 9: { // the whole poll: slots, status block, PID status
        // The block read this time if it succeeded, else the one from before.
        driver.lastGoodStatus = comm.statusBlock();
        comm.refreshData();
        const MailboxStatusBlock after = comm.statusBlock();
        FUZZ_CHECK(std::memcmp(&after, &driver.lastGoodStatus, sizeof after) == 0);
        FUZZ_CHECK(comm.pidStatus() >= PID_STATUS_OFF && comm.pidStatus() <= PID_STATUS_ON);
        std::vector<Transfer> scan = sent();
        scan.erase(std::remove_if(scan.begin(), scan.end(),
                                  [](const Transfer& t) { return t.command != cmd::ReadSlot; }),
                   scan.end());
        checkSlots(comm, scan);
        break;
    }
    case 10: // three blocks and the apply, each only after the last succeeded
    case 11:
    case 12:
        if (op == 10)
            comm.setPidParams(in.inRange(0, 2), 1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0, 8.0);
        else if (op == 11)
            comm.setSetpoints(1.0, 2.0, 3.0);
        else
            comm.setBpmOffsets(in.inRange(0, 1), 1.0, 2.0);
        checkStopsAtFailure(driver.transfers, first);
        break;
    case 13: {
        const bool acknowledged = comm.setPidSources(in.inRange(0, 1), in.inRange(0, 1), 0);
        const std::vector<Transfer> t = sent();
        FUZZ_CHECK(!acknowledged || (!t.empty() && t[0].result >= 0 && acceptedReply(t[0].reply)));
        break;
    }
    default:
        break;
    }
}

constexpr int kOperationCount = 14;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    startQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput in(data, size);
    SAMP_FREQ = 1000;
    PID_BASE_FREQ = 100000;
    pidSourceX = pidSourceY = pidSourceI0 = 0;

    ReplyDriver driver(in, in.byte() != 0xFF);
    MailboxComm comm(driver);
    int announced = 0;
    QObject::connect(&comm, &MailboxComm::nrDorvishsChanged, [&announced](int count) {
        FUZZ_CHECK(count >= 0 && count <= kSlotCount);
        ++announced;
    });

    // Opens the node and reads the slots once, as on the worker thread; the
    // poll timer stays off, the operations below are the poll.
    comm.doSetupOnNewThread();
    for (QTimer* timer : comm.findChildren<QTimer*>())
        timer->stop();
    checkSlots(comm, driver.transfers);

    for (int n = 0; n < kMaxOperations && !in.empty(); ++n) {
        const int before = announced;
        const int op = in.byte() % kOperationCount;
        runOperation(op, in, comm, driver);
        // A scan announces a change at most twice: the encoder flag and the count.
        FUZZ_CHECK(announced - before <= 2);
    }
    return 0;
}
