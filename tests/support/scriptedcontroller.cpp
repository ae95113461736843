#include "scriptedcontroller.h"

#include "recordingdriver.h"

#include <cstring>

using namespace zevo;

void ScriptedController::answer(RecordingDriver& driver)
{
    driver.defaultReply = [this](MailboxMessage& m) { reply(m); };
}

void ScriptedController::plug(const std::array<uint16_t, kSlotCount>& deviceIds)
{
    for (std::size_t s = 0; s < slotContents.size(); ++s) {
        slotContents[s] = SlotRecord{};
        slotContents[s].deviceId = deviceIds[s];
    }
}

void ScriptedController::reply(MailboxMessage& m)
{
    if (onTransfer)
        onTransfer(m);
    const uint32_t command = m.command();
    const int index = m.u8(4);
    if (command == cmd::ReadSlot)
        std::memcpy(m.bytes + kSlotReplyOffset, &slotContents[std::size_t(index & 3)],
                    sizeof(SlotRecord));
    else if (command == cmd::ReadPidStatus)
        m.setU8(4, pidStatus);
    else if (command == cmd::ReadRegulationMode)
        m.setU8(4, regulationMode);
    else if (command == cmd::ReadSetpoint)
        m.setF64(8, setpoints[index % 3]);
    else if (command == cmd::ReadRocEnables)
        for (std::size_t k = 0; k < rocEnables.size(); ++k)
            m.setU8(4 + k, rocEnables[k]);
    else if (command == cmd::ReadDisplayFrequency) {
        m.setU8(4, displayFilter ? 1 : 0);
        m.setU32(8, displayDivider);
    } else if (keepsWrites && command == cmd::SetFeedbackEnabled)
        pidStatus = index ? PID_STATUS_ON : PID_STATUS_OFF;
    else if (keepsWrites && command == cmd::SetSetpoint)
        setpoints[index % 3] = m.f64(8);
    m.setU32(0, command | kReplyAcknowledged);
}
