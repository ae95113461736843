#include "device/mailboxcomm.h"

#include "device/driver.h"
#include "device/globals.h"

#include <QThread>
#include <QTimer>

#include <fcntl.h>

using zevo::MailboxMessage;
namespace cmd = zevo::cmd;

namespace
{
constexpr int kPollIntervalMs = 1000;
constexpr int kPavunPidBaseFreq = 5000;

// The fixed answers for a controller that lacks the version commands.
constexpr uint32_t kFallbackVersionWord = 0x00090000;
constexpr uint32_t kFallbackHwTimestamp = 1406615411;

// A reply whose fields may be used. 0xF has bit 1 set too, but means that
// the controller does not know the command, so nothing in it is valid.
bool accepted(const MailboxMessage& reply)
{
    return reply.acknowledged() && !reply.unknownCommand();
}

uint8_t byteOf(int value)
{
    return static_cast<uint8_t>(value);
}

// Values the controller sends back that the program later uses as indices
// (into mode tables, status texts, per-BPM arrays) are taken only when they
// are in range; anything else keeps what was known before.
bool isBpmIndex(int v)
{
    return v == 0 || v == 1;
}
bool isPidStatus(int v)
{
    return v >= zevo::PID_STATUS_OFF && v <= zevo::PID_STATUS_ON;
}
} // namespace

MailboxComm::MailboxComm(Driver& driver, QObject* parent) : QObject(parent), m_driver(driver) {}

MailboxComm::~MailboxComm()
{
    // Pairs with the store at the worker thread's end (setupThread()).
    m_workerEnded.load(std::memory_order_acquire);
    const int fd = m_fd.exchange(-1);
    if (fd >= 0)
        m_driver.close(fd);
}

void MailboxComm::setupThread(QThread* thread)
{
    m_thread = thread;
    connect(thread, &QThread::started, this, &MailboxComm::refreshData);
    connect(this, &MailboxComm::finished, thread, &QThread::quit);
    connect(this, &MailboxComm::finished, this, &QObject::deleteLater);
    // The poll timer lives on the worker thread and must be stopped there,
    // before the thread ends, so that the communicator can be destroyed
    // afterwards from the GUI thread.
    connect(
        thread, &QThread::finished, this,
        [this] {
            if (m_pollTimer)
                m_pollTimer->stop();
            m_workerEnded.store(true, std::memory_order_release);
        },
        Qt::DirectConnection);
}

bool MailboxComm::waitUntilOpen(int timeoutMs)
{
    // The permit is handed back so that every later caller passes at once.
    if (m_opened.tryAcquire(1, timeoutMs))
        m_opened.release();
    return isOpen();
}

void MailboxComm::doSetupOnNewThread()
{
    if (m_pollTimer)
        return;
    m_pollTimer = new QTimer(this);
    connect(m_pollTimer, &QTimer::timeout, this, &MailboxComm::refreshData);
    m_pollTimer->start(kPollIntervalMs);

    m_fd.store(m_driver.open(zevo::kMailboxNode, O_RDWR));
    scanSlots();

    // Released after the first scan, so that start-up builds its windows for
    // the devices actually plugged in; and whether or not the node opened, so
    // that waiters learn the outcome now instead of sitting out their timeout.
    m_opened.release();
}

void MailboxComm::refreshData()
{
    scanSlots();

    // Read into a local block and publish it in one short copy, so that the
    // GUI thread never sees half of one second's statistics. A failed read
    // keeps the previous block.
    const int fd = m_fd.load();
    if (fd >= 0) {
        zevo::MailboxStatusBlock block{};
        if (m_driver.ioctl(fd, zevo::MBOX_IOC_READ_STATUS, &block) >= 0) {
            const std::lock_guard<std::mutex> lock(m_publishMutex);
            m_status = block;
        }
    }

    readPidStatus();
}

int MailboxComm::transfer(MailboxMessage& message)
{
    const int fd = m_fd.load();
    if (fd < 0)
        return -1;
    const MailboxMessage sent = message;
    const int result = m_driver.ioctl(fd, zevo::MBOX_IOC_TRANSFER, &message);
    // A failed request leaves the bytes as they were sent, so that reads
    // whose result is not examined decode their own (zero) request, never
    // whatever a failing driver left behind.
    if (result < 0)
        message = sent;
    return result;
}

// ---------------------------------------------------------------- versions, BPM scale

QString MailboxComm::versionText(uint32_t word)
{
    return QStringLiteral("%1.%2.%3%4")
        .arg(QString::number(word & 0xFF), QString::number((word >> 8) & 0xFF),
             QString::number((word >> 16) & 0xFF), QString::number((word >> 24) & 0xFF));
}

int MailboxComm::readVersions(QString* hwTimestamp, QString* swVersion, QString* pidVersion)
{
    MailboxMessage sw(cmd::ReadSwVersion);
    int result = transfer(sw);
    if (result < 0)
        return result;

    uint32_t swWord = kFallbackVersionWord;
    uint32_t timestamp = kFallbackHwTimestamp;
    uint32_t pidWord = kFallbackVersionWord;
    if (!sw.unknownCommand()) {
        swWord = sw.u32(MailboxMessage::kWord);
        MailboxMessage hw(cmd::ReadHwTimestamp);
        if ((result = transfer(hw)) < 0)
            return result;
        timestamp = hw.u32(MailboxMessage::kWord);
        MailboxMessage pid(cmd::ReadPidVersion);
        if ((result = transfer(pid)) < 0)
            return result;
        pidWord = pid.u32(MailboxMessage::kWord);
    }

    if (hwTimestamp)
        *hwTimestamp = QString::number(timestamp);
    if (swVersion)
        *swVersion = versionText(swWord);
    if (pidVersion)
        *pidVersion = versionText(pidWord);
    return 0;
}

void MailboxComm::setBpmScale(int bpm, double scaleX, double scaleY)
{
    MailboxMessage m(cmd::SetBpmScale);
    m.setU8(MailboxMessage::kIndex, byteOf(bpm));
    m.setF64(MailboxMessage::kValue1, scaleX);
    m.setF64(MailboxMessage::kValue2, scaleY);
    transfer(m);
}

// ---------------------------------------------------------------- BPM front end, outputs, display

void MailboxComm::setPidDivider(int channel, int divider)
{
    MailboxMessage m(cmd::SetPidDivider);
    // This command's divider fills bytes 4 to 7.
    m.setU32(MailboxMessage::kWord, static_cast<uint32_t>(divider));
    m.setU8(MailboxMessage::kValue1, byteOf(channel));
    transfer(m);
}

void MailboxComm::setBpmChannelMap(int top, int right, int bottom, int left, int bpm)
{
    MailboxMessage m(cmd::SetBpmChannelMap);
    m.setU8(MailboxMessage::kIndex, byteOf(bpm));
    m.setU8(MailboxMessage::kValue1, byteOf(top));
    m.setU8(MailboxMessage::kValue1 + 1, byteOf(right));
    m.setU8(MailboxMessage::kValue1 + 2, byteOf(bottom));
    m.setU8(MailboxMessage::kValue1 + 3, byteOf(left));
    transfer(m);
}

void MailboxComm::setBpmOrientation(int orientation, int bpm)
{
    MailboxMessage m(cmd::SetBpmOrientation);
    m.setU8(MailboxMessage::kIndex, byteOf(bpm));
    m.setU8(MailboxMessage::kValue1, byteOf(orientation));
    transfer(m);
}

int MailboxComm::setFeedbackEnabled(bool on)
{
    MailboxMessage m(cmd::SetFeedbackEnabled);
    m.setU8(MailboxMessage::kIndex, on ? 1 : 0);
    return transfer(m);
}

int MailboxComm::setOutputsFromController(bool on)
{
    MailboxMessage m(cmd::SetOutputsFromController);
    m.setU8(MailboxMessage::kIndex, on ? 1 : 0);
    return transfer(m);
}

unsigned MailboxComm::readOutputsFromController()
{
    MailboxMessage m(cmd::ReadOutputsFromController);
    transfer(m);
    return m.u8(MailboxMessage::kIndex);
}

void MailboxComm::setDisplayFrequency(bool filterEnabled)
{
    // A rate of zero or less has no divider, and one above the 100 MHz count
    // would give a divider of 0; the controller keeps its current rate then.
    const int rate = SAMP_FREQ;
    if (rate <= 0)
        return;
    const uint32_t divider = zevo::kDisplayClockHz / static_cast<uint32_t>(rate);
    if (divider == 0)
        return;
    MailboxMessage m(cmd::SetDisplayFrequency);
    m.setU8(MailboxMessage::kIndex, filterEnabled ? 1 : 0);
    m.setU32(MailboxMessage::kValue1, divider);
    transfer(m);
}

double MailboxComm::readDisplayFrequency(bool* filterEnabled)
{
    MailboxMessage m(cmd::ReadDisplayFrequency);
    transfer(m);
    if (filterEnabled)
        *filterEnabled = m.u8(MailboxMessage::kIndex) != 0;
    const uint32_t divider = m.u32(MailboxMessage::kValue1);
    return divider == 0 ? 0.0 : double(zevo::kDisplayClockHz) / double(divider);
}

int MailboxComm::setBpmOffsets(int bpm, double offsetX, double offsetY)
{
    MailboxMessage x(cmd::SetBpmOffset);
    x.setU8(MailboxMessage::kIndex, byteOf(2 * bpm + 1));
    x.setF64(MailboxMessage::kValue1, offsetX);
    const int result = transfer(x);
    if (result < 0)
        return result;
    MailboxMessage y(cmd::SetBpmOffset);
    y.setU8(MailboxMessage::kIndex, byteOf(2 * bpm));
    y.setF64(MailboxMessage::kValue1, offsetY);
    return transfer(y);
}

bool MailboxComm::setPidSources(int xBpm, int yBpm, int i0Bpm)
{
    MailboxMessage m(cmd::SetPidSources);
    m.setU8(MailboxMessage::kIndex, byteOf(xBpm));
    m.setU8(MailboxMessage::kSubBlock, byteOf(yBpm));
    m.setU8(MailboxMessage::kSubBlock + 1, byteOf(i0Bpm));
    transfer(m);
    return accepted(m);
}

bool MailboxComm::readPidSources(int* xBpm, int* yBpm, int* i0Bpm)
{
    MailboxMessage m(cmd::ReadPidSources);
    transfer(m);
    const bool acknowledged = accepted(m);
    // Unacknowledged: every loop reads BPM 1. Acknowledged but naming no
    // BPM: that loop's output keeps the caller's value.
    bool valid = acknowledged;
    int* const outputs[3] = {xBpm, yBpm, i0Bpm};
    for (int k = 0; k < 3; ++k) {
        const int source = m.s8(MailboxMessage::kIndex + std::size_t(k));
        const bool usable = acknowledged && isBpmIndex(source);
        valid = valid && usable;
        if (!outputs[k])
            continue;
        if (!acknowledged)
            *outputs[k] = 0;
        else if (usable)
            *outputs[k] = source;
    }
    return valid;
}

// ---------------------------------------------------------------- PID controller

int MailboxComm::setPidParams(int channel, double kp, double ki, double kd, double eMin,
                              double iMax, double oMin, double oMax, double oGain)
{
    MailboxMessage gains(cmd::SetPidParamBlock);
    gains.setU8(MailboxMessage::kIndex, byteOf(channel));
    gains.setU8(MailboxMessage::kSubBlock, zevo::kPidBlockGains);
    gains.setF64(MailboxMessage::kValue1, kp);
    gains.setF64(MailboxMessage::kValue2, ki);
    gains.setF64(MailboxMessage::kValue3, kd);
    int result = transfer(gains);
    if (result < 0)
        return result;

    MailboxMessage limits(cmd::SetPidParamBlock);
    limits.setU8(MailboxMessage::kIndex, byteOf(channel));
    limits.setU8(MailboxMessage::kSubBlock, zevo::kPidBlockLimits);
    limits.setF64(MailboxMessage::kValue1, eMin);
    limits.setF64(MailboxMessage::kValue2, iMax);
    if ((result = transfer(limits)) < 0)
        return result;

    MailboxMessage output(cmd::SetPidParamBlock);
    output.setU8(MailboxMessage::kIndex, byteOf(channel));
    output.setU8(MailboxMessage::kSubBlock, zevo::kPidBlockOutput);
    output.setF64(MailboxMessage::kValue1, oMin);
    output.setF64(MailboxMessage::kValue2, oMax);
    output.setF64(MailboxMessage::kValue3, oGain);
    if ((result = transfer(output)) < 0)
        return result;

    applyPidParams(channel);
    return result;
}

void MailboxComm::setSetpointX(double x)
{
    m_setpointX = x;
    MailboxMessage m(cmd::SetSetpoint);
    m.setU8(MailboxMessage::kIndex, zevo::kPidX);
    m.setF64(MailboxMessage::kValue1, x);
    transfer(m);
}

void MailboxComm::setSetpointY(double y)
{
    m_setpointY = y;
    MailboxMessage m(cmd::SetSetpoint);
    m.setU8(MailboxMessage::kIndex, zevo::kPidY);
    m.setF64(MailboxMessage::kValue1, y);
    transfer(m);
}

int MailboxComm::setSetpoints(double x, double y, double i0)
{
    m_setpointX = x;
    m_setpointY = y;
    m_setpointI0 = i0;
    return sendToEachChannel(cmd::SetSetpoint, {x, y, i0});
}

int MailboxComm::readSetpoints(double* x, double* y, double* i0)
{
    double* copies[3] = {&m_setpointX, &m_setpointY, &m_setpointI0};
    int result = 0;
    for (int channel = zevo::kPidX; channel <= zevo::kPidI0; ++channel) {
        MailboxMessage m(cmd::ReadSetpoint);
        m.setU8(MailboxMessage::kIndex, byteOf(channel));
        if ((result = transfer(m)) < 0)
            return result;
        *copies[channel] = m.f64(MailboxMessage::kValue1);
    }
    if (x)
        *x = m_setpointX;
    if (y)
        *y = m_setpointY;
    if (i0)
        *i0 = m_setpointI0;
    return result;
}

void MailboxComm::setRegulationMode(int mode)
{
    m_regulationMode = mode;
    MailboxMessage m(cmd::SetRegulationMode);
    m.setU8(MailboxMessage::kIndex, byteOf(mode));
    transfer(m);
}

int MailboxComm::readRegulationMode()
{
    MailboxMessage m(cmd::ReadRegulationMode);
    transfer(m);
    const int mode = m.s8(MailboxMessage::kIndex);
    if (zevo::isRegulationMode(mode))
        m_regulationMode = mode;
    return m_regulationMode;
}

int MailboxComm::setPidOffsets(double offX, double offY, double offI0)
{
    return sendToEachChannel(cmd::SetPidOffset, {offX, offY, offI0});
}

// One message per PID channel (X, Y, I0), the channel in the index byte and
// its value as the first value; stops at the first failure.
int MailboxComm::sendToEachChannel(uint32_t command, const std::array<double, 3>& values)
{
    int result = 0;
    for (int channel = zevo::kPidX; channel <= zevo::kPidI0; ++channel) {
        MailboxMessage m(command);
        m.setU8(MailboxMessage::kIndex, byteOf(channel));
        m.setF64(MailboxMessage::kValue1, values[channel]);
        if ((result = transfer(m)) < 0)
            return result;
    }
    return result;
}

void MailboxComm::setRocLimit(int index, double low, double high)
{
    MailboxMessage m(cmd::SetRocLimit);
    m.setU8(MailboxMessage::kIndex, byteOf(index));
    m.setF64(MailboxMessage::kValue1, low);
    m.setF64(MailboxMessage::kValue2, high);
    transfer(m);
}

int MailboxComm::readPidStatus()
{
    MailboxMessage m(cmd::ReadPidStatus);
    transfer(m);
    const int status = m.s8(MailboxMessage::kIndex);
    if (isPidStatus(status))
        m_pidStatus.store(status);
    return m_pidStatus.load();
}

void MailboxComm::applyPidParams(int channel)
{
    MailboxMessage m(cmd::ApplyPidParams);
    m.setU8(MailboxMessage::kIndex, byteOf(channel));
    transfer(m);
}

int MailboxComm::resetPidController()
{
    MailboxMessage m(cmd::ResetPidController);
    return transfer(m);
}

void MailboxComm::setDacAssignment(int dacX, int dacY, int dacI0)
{
    MailboxMessage m(cmd::SetDacAssignment);
    m.setU8(MailboxMessage::kValue1, byteOf(dacX));
    m.setU8(MailboxMessage::kValue1 + 1, byteOf(dacY));
    m.setU8(MailboxMessage::kValue1 + 2, byteOf(dacI0));
    transfer(m);
}

int MailboxComm::setRocEnables(bool x1, bool y1, bool beamOff1, bool x2, bool y2, bool beamOff2)
{
    const bool enables[6] = {x1, y1, beamOff1, x2, y2, beamOff2};
    MailboxMessage m(cmd::SetRocEnables);
    for (int k = 0; k < 6; ++k)
        m.setU8(MailboxMessage::kIndex + k, enables[k] ? 1 : 0);
    return transfer(m);
}

void MailboxComm::readRocEnables(bool* x1, bool* y1, bool* beamOff1, bool* x2, bool* y2,
                                 bool* beamOff2)
{
    MailboxMessage m(cmd::ReadRocEnables);
    transfer(m);
    bool* outputs[6] = {x1, y1, beamOff1, x2, y2, beamOff2};
    for (int k = 0; k < 6; ++k) {
        if (outputs[k])
            *outputs[k] = m.u8(MailboxMessage::kIndex + k) != 0;
    }
}

// ---------------------------------------------------------------- SFP slots, picoammeters

void MailboxComm::scanSlots()
{
    // One scan at a time, so that a change is announced once.
    const std::lock_guard<std::mutex> scanLock(m_scanMutex);

    std::array<zevo::SlotRecord, zevo::kSlotCount> records{};
    for (int slot = 0; slot < zevo::kSlotCount; ++slot) {
        MailboxMessage m(cmd::ReadSlot);
        m.setU8(MailboxMessage::kIndex, byteOf(slot));
        transfer(m); // a failed read comes back as sent: an empty slot
        static_assert(zevo::kSlotReplyOffset + sizeof(zevo::SlotRecord) <= MailboxMessage::kSize,
                      "slot record lies inside the reply");
        std::memcpy(&records[slot], m.bytes + zevo::kSlotReplyOffset, sizeof(zevo::SlotRecord));
    }

    int count = 0;
    int pavun = 0;
    for (const zevo::SlotRecord& record : records) {
        const uint8_t family = record.family();
        if (family == zevo::kFamilyDorvish || family == zevo::kFamilyPavun)
            ++count;
        if (family == zevo::kFamilyPavun)
            pavun = 1;
    }

    {
        const std::lock_guard<std::mutex> lock(m_publishMutex);
        m_slots = records;
    }

    const int oldPavun = m_pavunPresent.load();
    if (pavun != oldPavun) {
        if (pavun)
            PID_BASE_FREQ.store(kPavunPidBaseFreq);
        m_pavunPresent.store(pavun);
        emit nrDorvishsChanged(count);
    }

    if (count != m_deviceCount.load()) {
        PidSourceSet sources = pidSources.load();
        readPidSources(&sources.x, &sources.y, &sources.i0);
        pidSources.store(sources);
        m_deviceCount.store(count);
        emit nrDorvishsChanged(count);
    }
}

int MailboxComm::setHvEnabled(bool on, int pico)
{
    MailboxMessage m(cmd::SetHvEnabled);
    m.setU8(MailboxMessage::kIndex, byteOf(pico));
    m.setU8(MailboxMessage::kValue1, on ? 1 : 0);
    return transfer(m);
}

int MailboxComm::setHvVoltage(int pico, float volts)
{
    MailboxMessage m(cmd::SetHvVoltage);
    m.setU8(MailboxMessage::kIndex, byteOf(pico));
    m.setF32(MailboxMessage::kValue1, volts);
    return transfer(m);
}

void MailboxComm::setPicoRange(int rangeIndex, int pico)
{
    MailboxMessage m(cmd::SetPicoRange);
    m.setU8(MailboxMessage::kIndex, byteOf(pico));
    m.setU8(MailboxMessage::kValue1, byteOf(rangeIndex));
    transfer(m);
}

// ---------------------------------------------------------------- published values

std::array<zevo::SlotRecord, zevo::kSlotCount> MailboxComm::slotRecords() const
{
    const std::lock_guard<std::mutex> lock(m_publishMutex);
    return m_slots;
}

zevo::MailboxStatusBlock MailboxComm::statusBlock() const
{
    const std::lock_guard<std::mutex> lock(m_publishMutex);
    return m_status;
}

void MailboxComm::announceDeviceCount()
{
    emit nrDorvishsChanged(m_deviceCount.load());
}
