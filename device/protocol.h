#pragma once

// Everything that crosses the boundary between the program and the ZEVO
// driver: node names, request codes, mailbox command words, and the layout of
// every record. The host side and the virtual controller both build on this
// header; the tests check it against byte vectors written out by hand.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the controller's records are little-endian and are read in place");

namespace zevo
{

// ---------------------------------------------------------------- nodes

constexpr const char* kMailboxNode = "/dev/zevo_mailbox";
constexpr const char* kPico0Node = "/dev/zevo_dorvish0";
constexpr const char* kPico1Node = "/dev/zevo_dorvish1";
constexpr const char* kDacNode = "/dev/zevo_ostrel0";
constexpr const char* kDisplayNode = "/dev/zevo_dma_displ";

inline const char* picoNode(int pico)
{
    return pico == 0 ? kPico0Node : kPico1Node;
}

// ---------------------------------------------------------------- requests

// Linux ioctl encoding, type letter 'B', argument size 8 (a pointer).
constexpr unsigned long iocCode(unsigned long direction, unsigned long number)
{
    return (direction << 30) | (8ul << 16) | (static_cast<unsigned long>('B') << 8) | number;
}
constexpr unsigned long kIocWrite = 1; // host to driver
constexpr unsigned long kIocRead = 2;  // driver to host

constexpr unsigned long MBOX_IOC_TRANSFER = iocCode(kIocRead | kIocWrite, 10);
constexpr unsigned long MBOX_IOC_READ_STATUS = iocCode(kIocRead, 11);
constexpr unsigned long AMM_IOC_GET_INFO = iocCode(kIocRead, 20);
constexpr unsigned long AMM_IOC_READ_CURRENTS = iocCode(kIocRead, 30);
constexpr unsigned long DAC_IOC_SET_OUTPUTS = iocCode(kIocWrite, 40);

// ---------------------------------------------------------------- mailbox

// Command words: group << 24 | command << 8 | direction (0 write, 1 read).
namespace cmd
{
constexpr uint32_t ReadSwVersion = 0x00000101;
constexpr uint32_t ReadHwTimestamp = 0x00000201;
constexpr uint32_t ReadPidVersion = 0x00000301;
constexpr uint32_t SetBpmScale = 0x00000400;
constexpr uint32_t SetPidDivider = 0x01000200;
constexpr uint32_t SetBpmChannelMap = 0x01000300;
constexpr uint32_t SetBpmOrientation = 0x01000400;
constexpr uint32_t SetFeedbackEnabled = 0x01000500;
constexpr uint32_t SetOutputsFromController = 0x01000700;
constexpr uint32_t ReadOutputsFromController = 0x01000701;
constexpr uint32_t SetDisplayFrequency = 0x01000900;
constexpr uint32_t ReadDisplayFrequency = 0x01000901;
constexpr uint32_t SetBpmOffset = 0x01000a00;
constexpr uint32_t SetPidSources = 0x01000b00;
constexpr uint32_t ReadPidSources = 0x01000b01;
constexpr uint32_t SetPidParamBlock = 0x02000100;
constexpr uint32_t SetSetpoint = 0x02000200;
constexpr uint32_t ReadSetpoint = 0x02000201;
constexpr uint32_t SetRegulationMode = 0x02000300;
constexpr uint32_t ReadRegulationMode = 0x02000301;
constexpr uint32_t SetPidOffset = 0x02000500;
constexpr uint32_t SetRocLimit = 0x02000600;
constexpr uint32_t ReadPidStatus = 0x02000701;
constexpr uint32_t ApplyPidParams = 0x02000800;
constexpr uint32_t ResetPidController = 0x02000900;
constexpr uint32_t SetDacAssignment = 0x02000a00;
constexpr uint32_t SetRocEnables = 0x02000b00;
constexpr uint32_t ReadRocEnables = 0x02000b01;
constexpr uint32_t ReadSlot = 0x03000201;
constexpr uint32_t SetHvEnabled = 0x04000100;
constexpr uint32_t SetHvVoltage = 0x04000200;
constexpr uint32_t SetPicoRange = 0x04000300;
} // namespace cmd

// Low nibble of the returned command word.
constexpr uint32_t kReplyStatusMask = 0xF;
constexpr uint32_t kReplyAcknowledged = 0x2; // bit 1: the reply fields are valid
constexpr uint32_t kReplyUnknownCommand = 0xF;

// Sub-blocks of a PID parameter message (byte 5).
constexpr uint8_t kPidBlockGains = 0x00;  // kp, ki, kd
constexpr uint8_t kPidBlockLimits = 0x10; // eMin, iMax
constexpr uint8_t kPidBlockOutput = 0x20; // oMin, oMax, oGain

// Display divider: the controller counts the display period in 100 MHz ticks.
constexpr uint32_t kDisplayClockHz = 100000000;

// One 32-byte mailbox message; the reply comes back in the same bytes.
// Fields overlap from command to command (byte 4 is an index for most, the
// low byte of a u32 divider for one), so the message is kept as raw bytes
// with typed, bounds-checked accessors. Reads outside the 32 bytes yield 0,
// writes outside them are dropped.
struct MailboxMessage {
    static constexpr std::size_t kSize = 32;

    // Byte offsets of the fields after the command word (bytes 0 to 3).
    // Which fields a command uses, and as what type, depends on the command.
    static constexpr std::size_t kIndex = 4;    // channel, BPM, slot, flag (u8)
    static constexpr std::size_t kWord = 4;     // a u32 instead of the index: versions, PID divider
    static constexpr std::size_t kSubBlock = 5; // PID parameter sub-block, second index (u8)
    static constexpr std::size_t kValue1 = 8;
    static constexpr std::size_t kValue2 = 16;
    static constexpr std::size_t kValue3 = 24;

    unsigned char bytes[kSize];

    MailboxMessage() { std::memset(bytes, 0, kSize); }
    explicit MailboxMessage(uint32_t command) : MailboxMessage() { setU32(0, command); }

    template <typename T> T get(std::size_t offset) const
    {
        static_assert(std::is_trivially_copyable<T>::value, "plain values only");
        T value{};
        if (offset <= kSize && sizeof(T) <= kSize - offset)
            std::memcpy(&value, bytes + offset, sizeof(T));
        return value;
    }
    template <typename T> void put(std::size_t offset, T value)
    {
        static_assert(std::is_trivially_copyable<T>::value, "plain values only");
        if (offset <= kSize && sizeof(T) <= kSize - offset)
            std::memcpy(bytes + offset, &value, sizeof(T));
    }

    uint32_t command() const { return get<uint32_t>(0); }
    uint32_t replyStatus() const { return command() & kReplyStatusMask; }
    bool acknowledged() const { return (command() & kReplyAcknowledged) != 0; }
    bool unknownCommand() const { return replyStatus() == kReplyUnknownCommand; }

    uint8_t u8(std::size_t offset) const { return get<uint8_t>(offset); }
    int8_t s8(std::size_t offset) const { return get<int8_t>(offset); }
    uint32_t u32(std::size_t offset) const { return get<uint32_t>(offset); }
    float f32(std::size_t offset) const { return get<float>(offset); }
    double f64(std::size_t offset) const { return get<double>(offset); }

    void setU8(std::size_t offset, uint8_t v) { put(offset, v); }
    void setU32(std::size_t offset, uint32_t v) { put(offset, v); }
    void setF32(std::size_t offset, float v) { put(offset, v); }
    void setF64(std::size_t offset, double v) { put(offset, v); }
};
static_assert(sizeof(MailboxMessage) == 32, "mailbox message is 32 bytes");
static_assert(std::is_standard_layout<MailboxMessage>::value, "sent as raw bytes");

// Statistics of one BPM over the last second, as kept by the controller.
struct BpmStatistics {
    double xMean;
    double xStd;
    double xStd1kHz;
    double yMean;
    double yStd;
    double yStd1kHz;
    double i0Mean;
    double i0Std;
    double i0Std1kHz;
};
static_assert(sizeof(BpmStatistics) == 72, "nine doubles");
static_assert(offsetof(BpmStatistics, yMean) == 24, "");
static_assert(offsetof(BpmStatistics, i0Mean) == 48, "");
static_assert(offsetof(BpmStatistics, i0Std1kHz) == 64, "");

// Filled by MBOX_IOC_READ_STATUS.
struct MailboxStatusBlock {
    unsigned char header[8]; // not interpreted
    BpmStatistics bpm[2];
};
static_assert(sizeof(MailboxStatusBlock) == 152, "status block is 152 bytes");
static_assert(offsetof(MailboxStatusBlock, bpm) == 8, "");

// Device families: high byte of a slot's device identifier.
constexpr uint8_t kFamilyPowerSupply = 0x11;
constexpr uint8_t kFamilyDorvish = 0x21; // picoammeter
constexpr uint8_t kFamilyOstrel = 0x22;  // DAC module
constexpr uint8_t kFamilyPavun = 0x23;   // encoder interface

// One SFP slot, copied from bytes 8 to 21 of the ReadSlot reply.
#pragma pack(push, 1)
struct SlotRecord {
    uint16_t deviceId; // 0 = empty slot
    uint32_t hwVersion;
    unsigned char fwVersion[4]; // four characters
    uint32_t serial;

    uint8_t family() const { return static_cast<uint8_t>(deviceId >> 8); }
};
#pragma pack(pop)
static_assert(sizeof(SlotRecord) == 14, "slot record is 14 bytes");
static_assert(offsetof(SlotRecord, hwVersion) == 2, "");
static_assert(offsetof(SlotRecord, fwVersion) == 6, "");
static_assert(offsetof(SlotRecord, serial) == 10, "");
constexpr std::size_t kSlotReplyOffset = 8; // where the record starts in the reply
constexpr int kSlotCount = 4;

// ---------------------------------------------------------------- picoammeter

// High-voltage states in the low four bits of PicoInfoRecord::hvState.
constexpr uint32_t kHvOff = 0;
constexpr uint32_t kHvOn = 1;
constexpr uint32_t kHvRising = 3;
constexpr uint32_t kHvFalling = 5;

// Written by AMM_IOC_GET_INFO. Packed: the currents sit at unaligned offsets.
#pragma pack(push, 1)
struct PicoInfoRecord {
    unsigned char reserved0[12];
    float hvCurrent;  // microamperes
    float hvVoltage;  // volts
    uint32_t hvState; // low four bits
    unsigned char reserved24[4];
    double currentCh4; // amperes
    double currentCh3;
    double currentCh2;
    double currentCh1;
    unsigned char reserved60[4];
};
#pragma pack(pop)
static_assert(sizeof(PicoInfoRecord) == 64, "64 bytes per picoammeter");
static_assert(offsetof(PicoInfoRecord, hvCurrent) == 12, "");
static_assert(offsetof(PicoInfoRecord, hvVoltage) == 16, "");
static_assert(offsetof(PicoInfoRecord, hvState) == 20, "");
static_assert(offsetof(PicoInfoRecord, currentCh4) == 28, "");
static_assert(offsetof(PicoInfoRecord, currentCh3) == 36, "");
static_assert(offsetof(PicoInfoRecord, currentCh2) == 44, "");
static_assert(offsetof(PicoInfoRecord, currentCh1) == 52, "");

// Filled by AMM_IOC_READ_CURRENTS: element 3 - c holds channel c (0-based).
struct PicoCurrentsRecord {
    double current[4]; // amperes
};
static_assert(sizeof(PicoCurrentsRecord) == 32, "four doubles");

inline double channelCurrent(const PicoCurrentsRecord& r, int channel)
{
    return (channel >= 0 && channel < 4) ? r.current[3 - channel] : 0.0;
}

// AMM_IOC_READ_CURRENTS writes *at least* the four currents; a driver whose
// record has grown writes more. The reply is received into this much room,
// never into a bare PicoCurrentsRecord, and only its first four values are read.
constexpr std::size_t kPicoCurrentsReplyBytes = 256;
struct PicoCurrentsReply {
    PicoCurrentsRecord record;
    unsigned char headroom[kPicoCurrentsReplyBytes - sizeof(PicoCurrentsRecord)];
};
static_assert(sizeof(PicoCurrentsReply) == kPicoCurrentsReplyBytes, "");
static_assert(offsetof(PicoCurrentsReply, record) == 0, "the currents come first");

// ---------------------------------------------------------------- DAC

// Sent with DAC_IOC_SET_OUTPUTS.
struct DacOutputRecord {
    double volts[4]; // DAC outputs 1 to 4 (channels 0 to 3)
    uint32_t enable; // always 1
};
static_assert(offsetof(DacOutputRecord, volts) == 0, "");
static_assert(offsetof(DacOutputRecord, enable) == 32, "");

// ---------------------------------------------------------------- display stream

// One sample of the display stream: 32 little-endian doubles.
struct DisplayRecord {
    double value[32];
};
static_assert(sizeof(DisplayRecord) == 256, "display record is 256 bytes");

namespace disp
{
constexpr int Bpm1X = 0;
constexpr int Bpm1Y = 1;
constexpr int Bpm1I0 = 2;
constexpr int Bpm2X = 4;
constexpr int Bpm2Y = 5;
constexpr int Bpm2I0 = 6;
constexpr int Dac1 = 8; // DAC outputs 1 to 3 at 8, 9, 10
// Picoammeter 1 channels 1 to 4 at 24 to 27 (encoder counts with a Pavun).
constexpr int Pico1Ch1 = 24;
constexpr int Pico2Ch1 = 28; // picoammeter 2 channels 1 to 4 at 28 to 31
inline constexpr int bpmX(int bpm)
{
    return bpm == 0 ? Bpm1X : Bpm2X;
}
inline constexpr int bpmY(int bpm)
{
    return bpm == 0 ? Bpm1Y : Bpm2Y;
}
inline constexpr int bpmI0(int bpm)
{
    return bpm == 0 ? Bpm1I0 : Bpm2I0;
}
} // namespace disp

constexpr int kDisplayRecordBytes = 256;
constexpr int kDisplayBufferRecords = 14336; // what the display node delivers in one read
constexpr int kDisplayBufferBytes = kDisplayBufferRecords * kDisplayRecordBytes;

// ---------------------------------------------------------------- controller enums

// Feedback state read with readPidStatus.
enum PID_Status_Type : int {
    PID_STATUS_OFF = 0,
    PID_STATUS_FAULT_ROC = 1,
    PID_STATUS_BEAM_OFF = 2,
    PID_STATUS_ON = 3,
};

// Which loops regulate.
enum RegulationMode : int {
    MODE_X = 0,
    MODE_XY = 1,
    MODE_X_I0 = 2,
    MODE_Y = 3,
    MODE_Y_I0 = 4,
    MODE_XY_I0 = 5,
    MODE_I0 = 6,
};

constexpr bool isRegulationMode(int v)
{
    return v >= MODE_X && v <= MODE_I0;
}

// PID channels.
constexpr int kPidX = 0;
constexpr int kPidY = 1;
constexpr int kPidI0 = 2;

// The PID loops that regulate in a regulation mode.
struct LoopSet {
    bool x = false;
    bool y = false;
    bool i0 = false;

    constexpr bool regulates(int channel) const
    {
        return channel == kPidX ? x : channel == kPidY ? y : channel == kPidI0 && i0;
    }
};

// The loops of each regulation mode; none for a number that is no mode.
constexpr LoopSet loopsOfMode(int mode)
{
    switch (mode) {
    case MODE_X:
        return {true, false, false};
    case MODE_XY:
        return {true, true, false};
    case MODE_X_I0:
        return {true, false, true};
    case MODE_Y:
        return {false, true, false};
    case MODE_Y_I0:
        return {false, true, true};
    case MODE_XY_I0:
        return {true, true, true};
    case MODE_I0:
        return {false, false, true};
    default:
        return {};
    }
}

// The regulation mode in which exactly the given loops regulate; -1 for no loop.
constexpr int modeOfLoops(bool x, bool y, bool i0)
{
    for (int mode = MODE_X; mode <= MODE_I0; ++mode) {
        const LoopSet loops = loopsOfMode(mode);
        if (loops.x == x && loops.y == y && loops.i0 == i0)
            return mode;
    }
    return -1;
}

// Every set of loops has its own mode, and the modes keep their numbers.
static_assert(modeOfLoops(true, false, false) == MODE_X, "");
static_assert(modeOfLoops(true, true, false) == MODE_XY, "");
static_assert(modeOfLoops(true, false, true) == MODE_X_I0, "");
static_assert(modeOfLoops(false, true, false) == MODE_Y, "");
static_assert(modeOfLoops(false, true, true) == MODE_Y_I0, "");
static_assert(modeOfLoops(true, true, true) == MODE_XY_I0, "");
static_assert(modeOfLoops(false, false, true) == MODE_I0, "");
static_assert(modeOfLoops(false, false, false) == -1, "");
static_assert(!loopsOfMode(-1).regulates(kPidX) && !loopsOfMode(MODE_I0 + 1).regulates(kPidI0),
              "a number that is no mode regulates nothing");
static_assert(loopsOfMode(MODE_Y_I0).regulates(kPidI0) && !loopsOfMode(MODE_Y_I0).regulates(kPidX),
              "");

// ROC limit and enable index of a BPM's coordinate (c = 0 X, 1 Y, 2 beam-off threshold).
inline constexpr int rocIndex(int bpm, int c)
{
    return 3 * bpm + c;
}

} // namespace zevo
