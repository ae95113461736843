#include "sim/scenario.h"

namespace
{
constexpr uint16_t kPicoId = 0x2101;
constexpr uint16_t kDacId = 0x2200;
constexpr uint16_t kEncoderId = 0x2300;
constexpr uint32_t kPicoSerials[2] = {21010417, 21010422};

zevo::SlotRecord makeRecord(uint16_t id, uint32_t hw, const char fw[4], uint32_t serial)
{
    zevo::SlotRecord r{};
    r.deviceId = id;
    r.hwVersion = hw;
    for (int i = 0; i < 4; ++i)
        r.fwVersion[i] = static_cast<unsigned char>(fw[i]);
    r.serial = serial;
    return r;
}
} // namespace

Scenario::Scenario()
{
    slotContents[0] = picoRecord(kPicoSerials[0]);
    slotContents[kSecondPicoSlot] = picoRecord(kPicoSerials[1]);
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

int Scenario::picoSlot(int pico) const
{
    int n = 0;
    for (int slot = 0; slot < zevo::kSlotCount; ++slot) {
        if (slotContents[slot].family() != zevo::kFamilyDorvish)
            continue;
        if (n == pico)
            return slot;
        ++n;
    }
    return -1;
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
    slotContents[0] = plugged ? picoRecord(kPicoSerials[0]) : zevo::SlotRecord{};
}

void Scenario::setSecondPicoPlugged(bool plugged)
{
    slotContents[kSecondPicoSlot] = plugged ? picoRecord(kPicoSerials[1]) : zevo::SlotRecord{};
}

void Scenario::setEncoderPlugged(bool plugged)
{
    slotContents[kEncoderSlot] = plugged ? encoderRecord() : zevo::SlotRecord{};
}

void Scenario::setDacPlugged(bool plugged)
{
    slotContents[kDacSlot] = plugged ? dacRecord() : zevo::SlotRecord{};
}
