#pragma once

#include "device/protocol.h"

#include <array>
#include <cstdint>
#include <vector>

// Which physical picoammeter input each electrode of a detector is wired to.
struct DetectorWiring {
    bool orientation90 = true; // electrodes at the sides (true) or at the corners (false)
    // Channel (0..3) of the top, right, bottom and left electrode. At 45 deg
    // these are the upper-left, upper-right, lower-right and lower-left ones.
    std::array<int, 4> channel{0, 1, 2, 3};
};

// A mechanical vibration of the beamline: the beam moves at every BPM with
// this amplitude (peak, micrometres as the display shows them) in X, and
// in Y a quarter period later.
struct VibrationLine {
    double hz = 0.0;
    double micrometres = 0.0;
};

// What the virtual beamline looks like: the devices in the controller's
// slots, the controller firmware, and the state of the beam. Everything here
// may change while the program runs (Simulation window); the controller's
// own settings (PID parameters, maps...) are not part of it.
struct Scenario {
    // Slots A to D.
    std::array<zevo::SlotRecord, zevo::kSlotCount> slotContents{};

    // Firmware. Without version commands the controller also lacks the
    // display-rate and BPM-offset commands of later versions and streams the
    // display at a fixed 1000 records per second.
    bool versionCommands = true;
    uint32_t swVersion = 0;
    uint32_t pidVersion = 0;
    uint32_t hwTimestamp = 0;

    bool beamPresent = true;
    double noiseLevel = 1.0; // 0 = noise, vibration and mains pick-up off
    double driftLevel = 1.0; // 0 = no slow drift
    // Vibration lines and the mains pick-up of the BPM electronics, in
    // micrometres at each BPM, both times the noise level. The pick-up is
    // a 50 Hz line of this amplitude with 30 % of it at 150 Hz; on the
    // electrode currents it is common to the four inputs of a picoammeter.
    std::vector<VibrationLine> vibration{{37.0, 0.4}};
    double mainsMicrometres = 0.05;
    // A step of the beam at both BPMs, X and Y in micrometres as the display
    // shows them (a kick beyond the region of control trips the feedback).
    std::array<double, 2> kickMicrometres{0.0, 0.0};

    // Physical detectors of BPM 1 and BPM 2 (read by picoammeter 1 and 2).
    std::array<DetectorWiring, 2> wiring{};

    uint64_t seed = 1;

    // Two picoammeters in slots A and B, the DAC module in slot C, slot D
    // empty; firmware 1.0.03.
    Scenario();

    // Number of picoammeters plugged in.
    int picoCount() const;
    bool encoderPlugged() const;
    bool dacPlugged() const;

    // Slot B holds the second picoammeter, slot D the encoder interface.
    void setSecondPicoPlugged(bool plugged);
    void setEncoderPlugged(bool plugged);
    void setFirstPicoPlugged(bool plugged);
    void setDacPlugged(bool plugged);

    static constexpr int kSecondPicoSlot = 1;
    static constexpr int kDacSlot = 2;
    static constexpr int kEncoderSlot = 3;

    // What can sit in a slot. An unknown device carries an identifier of a
    // family that neither the program nor its device catalogue knows, as a
    // newer instrument would.
    enum class Device { Empty, Picoammeter, DacModule, EncoderInterface, PowerSupply, Unknown };
    static constexpr uint16_t kUnknownDeviceId = 0x2400;

    // Puts `device` into `slot` (0 to 3 = A to D); a picoammeter gets the
    // serial number of that slot. Out-of-range slots are ignored.
    void plug(int slot, Device device);
    // What `slot` holds, judged by the family of its identifier.
    Device deviceIn(int slot) const;

    static zevo::SlotRecord recordOf(Device device, int slot);
    static zevo::SlotRecord picoRecord(uint32_t serial);
    static zevo::SlotRecord dacRecord();
    static zevo::SlotRecord encoderRecord();
    static zevo::SlotRecord powerSupplyRecord();
    static zevo::SlotRecord unknownDeviceRecord();

    // Version word of "a.b.cd": bytes a, b, c, d lowest first.
    static uint32_t versionWord(int a, int b, int c, int d);
};
