#pragma once

#include "device/protocol.h"

#include <cstdint>

class VirtualController;

// The mailbox of the virtual controller: takes one command message, carries
// it out against the controller's firmware settings and loops, and writes
// the reply into the same bytes, as the firmware does. A command the
// controller's firmware version lacks is answered as unknown, a command
// with arguments out of range is refused and changes nothing.
//
// Holds no state of its own; VirtualController::transfer() makes one for
// each message.
class VirtualMailbox
{
public:
    explicit VirtualMailbox(VirtualController& controller) : m_controller(controller) {}

    void transfer(zevo::MailboxMessage& message);

private:
    enum Reply { Ack, Refused, Unknown };

    bool commandAvailable(uint32_t command) const;
    Reply handle(zevo::MailboxMessage& m);

    VirtualController& m_controller;
};
