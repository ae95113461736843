#pragma once

#include "device/protocol.h"

#include <array>
#include <functional>

class RecordingDriver;

// The controller behind a recording driver, as far as the windows read it:
// the mailbox answers from these fields, every other reply is the message
// acknowledged. The defaults are what an acknowledged echo of the request
// holds (empty slots, feedback off, mode X, setpoints 0), so that a test
// sets only what it is about.
class ScriptedController
{
public:
    std::array<zevo::SlotRecord, zevo::kSlotCount> slotContents{};
    uint8_t pidStatus = zevo::PID_STATUS_OFF;
    uint8_t regulationMode = zevo::MODE_X;
    double setpoints[3] = {}; // raw X, Y; I0 in amperes
    uint32_t displayDivider = 0;
    bool displayFilter = false;
    std::array<uint8_t, 6> rocEnables{};
    // Whether the feedback switch and the setpoints sent are read back.
    bool keepsWrites = false;
    // Sees every message before it is answered.
    std::function<void(const zevo::MailboxMessage&)> onTransfer;

    // From now on the driver's mailbox replies come from here.
    void answer(RecordingDriver& driver);
    // Slot contents by device identifier alone.
    void plug(const std::array<uint16_t, zevo::kSlotCount>& deviceIds);

private:
    void reply(zevo::MailboxMessage& m);
};
