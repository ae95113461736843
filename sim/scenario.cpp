#include "sim/scenario.h"

namespace
{
constexpr uint16_t kPicoId = 0x2101;
constexpr uint16_t kDacId = 0x2200;
constexpr uint16_t kEncoderId = 0x2300;
constexpr uint16_t kPowerSupplyId = 0x1100;
// Picoammeter serial numbers by slot, so that a module keeps its number
// when it is unplugged and plugged in again.
constexpr uint32_t kPicoSerials[zevo::kSlotCount] = {21010417, 21010422, 21010431, 21010436};

// `firmware` is the version as an operator reads it, four characters
// ("1402" for 1.4.0.2). The controller sends them last character first:
// 1.4.0.2 arrives as '2', '0', '4', '1' at record offsets 6 to 9.
zevo::SlotRecord makeRecord(uint16_t id, uint32_t hw, const char firmware[4], uint32_t serial)
{
    zevo::SlotRecord r{};
    r.deviceId = id;
    r.hwVersion = hw;
    for (int i = 0; i < 4; ++i)
        r.fwVersion[i] = static_cast<unsigned char>(firmware[3 - i]);
    r.serial = serial;
    return r;
}
} // namespace

Scenario::Scenario()
{
    slotContents[0] = picoRecord(kPicoSerials[0]);
    slotContents[kSecondPicoSlot] = picoRecord(kPicoSerials[kSecondPicoSlot]);
    slotContents[kDacSlot] = dacRecord();
    swVersion = versionWord(1, 0, 0, 3);
    pidVersion = versionWord(1, 2, 0, 5);
    hwTimestamp = 1719835200;
}

zevo::SlotRecord Scenario::picoRecord(uint32_t serial)
{
    return makeRecord(kPicoId, 3, "1402", serial);
}

zevo::SlotRecord Scenario::dacRecord()
{
    return makeRecord(kDacId, 2, "1101", 22000153);
}

zevo::SlotRecord Scenario::encoderRecord()
{
    return makeRecord(kEncoderId, 1, "1003", 23000071);
}

zevo::SlotRecord Scenario::powerSupplyRecord()
{
    return makeRecord(kPowerSupplyId, 1, "1000", 11000208);
}

zevo::SlotRecord Scenario::unknownDeviceRecord()
{
    return makeRecord(kUnknownDeviceId, 1, "0901", 24000012);
}

zevo::SlotRecord Scenario::recordOf(Device device, int slot)
{
    switch (device) {
    case Device::Picoammeter:
        return picoRecord(kPicoSerials[slot >= 0 && slot < zevo::kSlotCount ? slot : 0]);
    case Device::DacModule:
        return dacRecord();
    case Device::EncoderInterface:
        return encoderRecord();
    case Device::PowerSupply:
        return powerSupplyRecord();
    case Device::Unknown:
        return unknownDeviceRecord();
    case Device::Empty:
        break;
    }
    return zevo::SlotRecord{};
}

void Scenario::plug(int slot, Device device)
{
    if (slot < 0 || slot >= zevo::kSlotCount)
        return;
    slotContents[std::size_t(slot)] = recordOf(device, slot);
}

Scenario::Device Scenario::deviceIn(int slot) const
{
    if (slot < 0 || slot >= zevo::kSlotCount)
        return Device::Empty;
    const zevo::SlotRecord& r = slotContents[std::size_t(slot)];
    if (r.deviceId == 0)
        return Device::Empty;
    switch (r.family()) {
    case zevo::kFamilyDorvish:
        return Device::Picoammeter;
    case zevo::kFamilyOstrel:
        return Device::DacModule;
    case zevo::kFamilyPavun:
        return Device::EncoderInterface;
    case zevo::kFamilyPowerSupply:
        return Device::PowerSupply;
    default:
        return Device::Unknown;
    }
}

uint32_t Scenario::versionWord(int a, int b, int c, int d)
{
    return (uint32_t(a) & 0xFF) | (uint32_t(b) & 0xFF) << 8 | (uint32_t(c) & 0xFF) << 16 |
           (uint32_t(d) & 0xFF) << 24;
}

int Scenario::picoCount() const
{
    int n = 0;
    for (const auto& s : slotContents)
        n += s.family() == zevo::kFamilyDorvish ? 1 : 0;
    return n;
}

bool Scenario::encoderPlugged() const
{
    for (const auto& s : slotContents)
        if (s.family() == zevo::kFamilyPavun)
            return true;
    return false;
}

bool Scenario::dacPlugged() const
{
    for (const auto& s : slotContents)
        if (s.family() == zevo::kFamilyOstrel)
            return true;
    return false;
}

void Scenario::setFirstPicoPlugged(bool plugged)
{
    plug(0, plugged ? Device::Picoammeter : Device::Empty);
}

void Scenario::setSecondPicoPlugged(bool plugged)
{
    plug(kSecondPicoSlot, plugged ? Device::Picoammeter : Device::Empty);
}

void Scenario::setEncoderPlugged(bool plugged)
{
    plug(kEncoderSlot, plugged ? Device::EncoderInterface : Device::Empty);
}

void Scenario::setDacPlugged(bool plugged)
{
    plug(kDacSlot, plugged ? Device::DacModule : Device::Empty);
}
