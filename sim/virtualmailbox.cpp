#include "sim/virtualmailbox.h"

#include "sim/virtualcontroller.h"

#include <algorithm>
#include <cmath>
#include <cstring>

using zevo::MailboxMessage;
namespace cmd = zevo::cmd;

namespace
{
bool validIndex(int value, int count)
{
    return value >= 0 && value < count;
}
} // namespace

bool VirtualMailbox::commandAvailable(uint32_t command) const
{
    if (m_controller.m_scenario.versionCommands)
        return true;
    switch (command) {
    case cmd::ReadSwVersion:
    case cmd::ReadHwTimestamp:
    case cmd::ReadPidVersion:
    case cmd::SetDisplayFrequency:
    case cmd::ReadDisplayFrequency:
    case cmd::SetBpmOffset:
        return false;
    default:
        return true;
    }
}

void VirtualMailbox::transfer(MailboxMessage& m)
{
    const uint32_t command = m.command();
    const Reply reply = commandAvailable(command) ? handle(m) : Unknown;
    switch (reply) {
    case Ack:
        m.setU32(0, command | zevo::kReplyAcknowledged);
        break;
    case Refused: // understood, but the arguments were not acceptable
        m.setU32(0, command & ~zevo::kReplyAcknowledged);
        break;
    case Unknown:
        m.setU32(0, (command & ~zevo::kReplyStatusMask) | zevo::kReplyUnknownCommand);
        break;
    }
}

VirtualMailbox::Reply VirtualMailbox::handle(MailboxMessage& m)
{
    VirtualController& vc = m_controller;
    FirmwareSettings& set = vc.m_set;
    const int index = m.u8(MailboxMessage::kIndex);
    switch (m.command()) {
    case cmd::ReadSwVersion:
        m.setU32(MailboxMessage::kWord, vc.m_scenario.swVersion);
        return Ack;
    case cmd::ReadHwTimestamp:
        m.setU32(MailboxMessage::kWord, vc.m_scenario.hwTimestamp);
        return Ack;
    case cmd::ReadPidVersion:
        m.setU32(MailboxMessage::kWord, vc.m_scenario.pidVersion);
        return Ack;

    case cmd::SetBpmScale:
        if (!validIndex(index, 2))
            return Refused;
        set.scaleX[index] = m.f64(MailboxMessage::kValue1);
        set.scaleY[index] = m.f64(MailboxMessage::kValue2);
        return Ack;

    case cmd::SetPidDivider: {
        const uint32_t divider = m.u32(MailboxMessage::kWord);
        const int channel = m.u8(MailboxMessage::kValue1);
        if (!validIndex(channel, 3) || divider == 0)
            return Refused;
        set.pidDivider[channel] = divider;
        vc.updateLoopPeriods();
        return Ack;
    }
    case cmd::SetBpmChannelMap: {
        if (!validIndex(index, 2))
            return Refused;
        int map[4];
        for (int k = 0; k < 4; ++k) {
            map[k] = m.u8(MailboxMessage::kValue1 + k);
            if (!validIndex(map[k], 4))
                return Refused;
        }
        std::copy(map, map + 4, set.channelMap[index]);
        return Ack;
    }
    case cmd::SetBpmOrientation: {
        const int orientation = m.u8(MailboxMessage::kValue1);
        if (!validIndex(index, 2) || !validIndex(orientation, 2))
            return Refused;
        set.orientation90[index] = orientation == 1;
        return Ack;
    }
    case cmd::SetFeedbackEnabled: {
        const bool on = index != 0;
        if (on != set.feedbackEnabled) {
            set.feedbackEnabled = on;
            vc.m_rocLatched = false;
            vc.resetLoops();
            vc.evaluateStatus();
            vc.updateOutputs();
        }
        return Ack;
    }
    case cmd::SetOutputsFromController:
        set.outputsFromController = index != 0;
        vc.updateOutputs();
        return Ack;
    case cmd::ReadOutputsFromController:
        m.setU8(MailboxMessage::kIndex, set.outputsFromController ? 1 : 0);
        return Ack;

    case cmd::SetDisplayFrequency: {
        const uint32_t divider = m.u32(MailboxMessage::kValue1);
        if (divider == 0)
            return Refused;
        set.displayFilter = index != 0;
        set.displayDivider = std::max(divider, VirtualController::kMinDisplayDivider);
        vc.m_displayPhase = 0;
        vc.m_accumulatedTicks = 0;
        std::fill(std::begin(vc.m_accumulated), std::end(vc.m_accumulated), 0.0);
        return Ack;
    }
    case cmd::ReadDisplayFrequency:
        m.setU8(MailboxMessage::kIndex, set.displayFilter ? 1 : 0);
        m.setU32(MailboxMessage::kValue1, set.displayDivider);
        return Ack;

    case cmd::SetBpmOffset: {
        // Index 2 x BPM + 1 carries X, 2 x BPM carries Y.
        if (!validIndex(index, 4))
            return Refused;
        const int bpm = index / 2;
        if (index % 2)
            set.offsetX[bpm] = m.f64(MailboxMessage::kValue1);
        else
            set.offsetY[bpm] = m.f64(MailboxMessage::kValue1);
        return Ack;
    }
    case cmd::SetPidSources: {
        const int sources[3] = {index, m.u8(MailboxMessage::kSubBlock),
                                m.u8(MailboxMessage::kSubBlock + 1)};
        for (int s : sources)
            if (!validIndex(s, 2))
                return Refused;
        std::copy(sources, sources + 3, set.pidSource);
        return Ack;
    }
    case cmd::ReadPidSources:
        for (int c = 0; c < 3; ++c)
            m.setU8(MailboxMessage::kIndex + c, uint8_t(set.pidSource[c]));
        return Ack;

    case cmd::SetPidParamBlock: {
        if (!validIndex(index, 3))
            return Refused;
        PidLawParameters& p = set.staged[index];
        switch (m.u8(MailboxMessage::kSubBlock)) {
        case zevo::kPidBlockGains:
            p.kp = m.f64(MailboxMessage::kValue1);
            p.ki = m.f64(MailboxMessage::kValue2);
            p.kd = m.f64(MailboxMessage::kValue3);
            return Ack;
        case zevo::kPidBlockLimits:
            p.eMin = m.f64(MailboxMessage::kValue1);
            p.iMax = m.f64(MailboxMessage::kValue2);
            return Ack;
        case zevo::kPidBlockOutput:
            p.oMin = m.f64(MailboxMessage::kValue1);
            p.oMax = m.f64(MailboxMessage::kValue2);
            p.oGain = m.f64(MailboxMessage::kValue3);
            return Ack;
        default:
            return Refused;
        }
    }
    case cmd::ApplyPidParams:
        if (!validIndex(index, 3))
            return Refused;
        set.active[index] = set.staged[index];
        return Ack;

    case cmd::SetSetpoint:
        if (!validIndex(index, 3) || !std::isfinite(m.f64(MailboxMessage::kValue1)))
            return Refused;
        set.setpoint[index] = m.f64(MailboxMessage::kValue1);
        return Ack;
    case cmd::ReadSetpoint:
        if (!validIndex(index, 3))
            return Refused;
        m.setF64(MailboxMessage::kValue1, set.setpoint[index]);
        return Ack;

    case cmd::SetRegulationMode: {
        if (!zevo::isRegulationMode(index))
            return Refused;
        bool before[3];
        for (int c = 0; c < 3; ++c)
            before[c] = vc.loopRegulates(c);
        set.regulationMode = index;
        // Loops that join start afresh, loops that leave go to their offset,
        // loops that stay carry on undisturbed.
        for (int c = 0; c < 3; ++c) {
            const bool now = vc.loopRegulates(c);
            if (now && !before[c])
                vc.m_loop[c].law.restart();
            else if (!now)
                vc.m_loop[c].law.hold(set.pidOffset[c]);
        }
        vc.updateOutputs();
        return Ack;
    }
    case cmd::ReadRegulationMode:
        m.setU8(MailboxMessage::kIndex, uint8_t(set.regulationMode));
        return Ack;

    case cmd::SetPidOffset:
        if (!validIndex(index, 3) || !std::isfinite(m.f64(MailboxMessage::kValue1)))
            return Refused;
        set.pidOffset[index] = m.f64(MailboxMessage::kValue1);
        if (!set.feedbackEnabled || !vc.loopRegulates(index)) {
            vc.m_loop[index].law.hold(set.pidOffset[index]);
            vc.updateOutputs();
        }
        return Ack;

    case cmd::SetRocLimit:
        if (!validIndex(index, 6))
            return Refused;
        set.rocLow[index] = m.f64(MailboxMessage::kValue1);
        set.rocHigh[index] = m.f64(MailboxMessage::kValue2);
        return Ack;

    case cmd::ReadPidStatus:
        m.setU8(MailboxMessage::kIndex, uint8_t(vc.m_status));
        return Ack;

    case cmd::ResetPidController:
        vc.m_rocLatched = false;
        vc.resetLoops();
        vc.evaluateStatus();
        vc.updateOutputs();
        return Ack;

    case cmd::SetDacAssignment: {
        int assign[3];
        for (int c = 0; c < 3; ++c) {
            assign[c] = m.u8(MailboxMessage::kValue1 + c);
            if (!validIndex(assign[c], 4))
                return Refused;
        }
        std::copy(assign, assign + 3, set.dacAssignment);
        vc.updateOutputs();
        return Ack;
    }
    case cmd::SetRocEnables:
        for (int k = 0; k < 6; ++k)
            set.rocEnable[k] = m.u8(MailboxMessage::kIndex + k) != 0;
        return Ack;
    case cmd::ReadRocEnables:
        for (int k = 0; k < 6; ++k)
            m.setU8(MailboxMessage::kIndex + k, set.rocEnable[k] ? 1 : 0);
        return Ack;

    case cmd::ReadSlot: {
        if (!validIndex(index, zevo::kSlotCount))
            return Refused;
        const zevo::SlotRecord& record = vc.m_scenario.slotContents[index];
        std::memcpy(m.bytes + zevo::kSlotReplyOffset, &record, sizeof record);
        return Ack;
    }

    case cmd::SetHvEnabled:
        if (!vc.picoPlugged(index))
            return Refused;
        set.hvEnabled[index] = m.u8(MailboxMessage::kValue1) != 0;
        return Ack;
    case cmd::SetHvVoltage: {
        const float volts = m.f32(MailboxMessage::kValue1);
        if (!vc.picoPlugged(index) || !std::isfinite(volts))
            return Refused;
        set.hvSet[index] = std::clamp(double(volts), 0.0, VirtualController::kHvMaxVolts);
        return Ack;
    }
    case cmd::SetPicoRange: {
        const int range = m.u8(MailboxMessage::kValue1);
        if (!vc.picoPlugged(index) || !validIndex(range, 3))
            return Refused;
        set.picoRange[index] = range;
        vc.updateFrontEnds(false);
        return Ack;
    }

    default:
        return Unknown;
    }
}
