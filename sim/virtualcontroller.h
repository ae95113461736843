#pragma once

#include "analysis/pidlaw.h"
#include "device/protocol.h"
#include "sim/beamlinemodel.h"
#include "sim/scenario.h"

#include <array>
#include <cstdint>
#include <vector>

// Parameters of one PID loop as the firmware holds them: those of the
// controller's PID law.
using PidParameters = PidLawParameters;

// Every setting the program can give the controller, as the firmware keeps
// it. Most cannot be read back through the mailbox; the simulator exposes
// them so that its users can see what arrived.
struct FirmwareSettings {
    // BPM front end, per BPM.
    double scaleX[2] = {1, 1};
    double scaleY[2] = {1, 1};
    int channelMap[2][4] = {{0, 1, 2, 3}, {0, 1, 2, 3}}; // top, right, bottom, left
    bool orientation90[2] = {true, true};
    double offsetX[2] = {0, 0};
    double offsetY[2] = {0, 0};

    bool feedbackEnabled = false;
    bool outputsFromController = true;
    uint32_t displayDivider = 100000; // 1000 records per second
    bool displayFilter = false;
    int pidSource[3] = {0, 0, 0};

    // PID loops X, Y, I0. Parameter blocks are staged until applied.
    PidLawParameters staged[3];
    PidLawParameters active[3];
    double setpoint[3] = {0.0, 0.0, 50e-6};
    double pidOffset[3] = {5.1, 5.3, 6.0};
    uint32_t pidDivider[3] = {100, 100, 100}; // 1 kHz from the 100 kHz base
    int regulationMode = zevo::MODE_XY;
    double rocLow[6] = {0, 0, 0, 0, 0, 0};
    double rocHigh[6] = {0.15, 0.15, 1e-6, 0.15, 0.15, 1e-6};
    bool rocEnable[6] = {false, false, false, false, false, false};
    int dacAssignment[3] = {0, 1, 2};

    // Picoammeters.
    bool hvEnabled[2] = {true, true};
    double hvSet[2] = {100.0, 100.0};
    int picoRange[2] = {0, 0}; // 0: 100 uA, 1: 100 nA, 2: automatic

    // What the controller holds when it powers up: a beamline set up before,
    // feedback off, the beam centred by the output offsets. The simulator's
    // first-start configuration file says the same.
    FirmwareSettings();
};

// The feedback controller's firmware with the beamline it is connected to.
//
// Runs in ticks of 10 us (the 100 kHz base of the PID loops): each tick the
// beamline moves, the controller computes the BPM positions from the
// picoammeter inputs with its channel map and orientation, runs whichever
// PID loops are due, drives the DAC outputs, accumulates statistics and
// produces the display stream. Once per millisecond it checks the
// interlocks, ramps the high voltage and latches the picoammeter readings.
//
// Not thread-safe: SimDriver serialises every call.
class VirtualController
{
public:
    static constexpr int kDisplayRingRecords = 131072;
    static constexpr uint32_t kMinDisplayDivider = 1000; // one record per tick at most
    static constexpr uint32_t kLegacyDisplayDivider = 100000;
    static constexpr double kHvRampVoltsPerSecond = 100.0;
    static constexpr double kHvMaxVolts = 6000.0;

    explicit VirtualController(const Scenario& scenario);

    const Scenario& scenario() const { return m_scenario; }
    void setScenario(const Scenario& scenario);

    void run(int64_t ticks);

    // --- requests, with the layouts of the driver interface
    void transfer(zevo::MailboxMessage& message);
    void readStatus(zevo::MailboxStatusBlock& block) const;
    void picoInfo(int pico, zevo::PicoInfoRecord& record) const;
    void picoCurrents(int pico, zevo::PicoCurrentsRecord& record) const;
    // DAC_IOC_SET_OUTPUTS: reaches the outputs while the host has them.
    void setHostOutputs(const double volts[4]);
    // The newest `records` display records, oldest first. Records from before
    // the stream began read as zeros. Returns the number written.
    int copyNewest(zevo::DisplayRecord* destination, int records) const;

    // --- state, for the simulator's own use and for tests
    bool picoPlugged(int pico) const { return pico >= 0 && pico < 2 && m_picoPlugged[pico]; }
    bool dacPlugged() const { return m_dacPlugged; }
    uint64_t recordsProduced() const { return m_produced; }
    double displayRate() const { return double(zevo::kDisplayClockHz) / m_set.displayDivider; }
    int pidStatus() const { return m_status; }
    const FirmwareSettings& settings() const { return m_set; }
    double dacOutput(int output) const { return m_dac[output]; }
    int64_t ticks() const { return m_ticks; }
    const BeamlineModel& beamline() const { return m_beamline; }

private:
    // Carries out the mailbox commands against the state below.
    friend class VirtualMailbox;

    static constexpr int kFields = 17;       // display record values that the controller fills
    static constexpr int kStatBlocks = 1000; // one second of 1 ms blocks
    static constexpr int kTicksPerBlock = BeamlineModel::kTicksPerBlock;

    // Run-time state of a PID loop: when it runs next, and the law's state.
    struct Loop {
        int64_t periodTicks = 100;
        int64_t countdown = 1;
        PidLaw law;
    };

    // Run-time state of a picoammeter.
    struct Pico {
        double hvVolts = 0;
        uint32_t hvState = zevo::kHvOff;
        float hvCurrent = 0;
        int activeRange = 0;
        double latest[4] = {0, 0, 0, 0}; // last millisecond's mean per input
        double blockSum[4] = {0, 0, 0, 0};
    };

    struct StatBlock {
        double mean[6];
        double m2[6]; // sum of squared deviations from the block mean
    };

    void tick();
    void measure();
    void runLoop(int channel);
    void endOfBlock();
    void evaluateStatus();
    void updateOutputs();
    // HV ramp (one millisecond's step when rampStep), range, efficiency.
    void updateFrontEnds(bool rampStep);
    void emitRecord(const double* values);
    void resetLoops();
    void updateLoopPeriods();
    bool loopRegulates(int channel) const
    {
        return zevo::loopsOfMode(m_set.regulationMode).regulates(channel);
    }

    Scenario m_scenario;
    BeamlineModel m_beamline;
    int64_t m_ticks = 0;

    // Devices plugged in.
    bool m_picoPlugged[2] = {false, false};
    bool m_dacPlugged = false;
    bool m_encoder = false;

    FirmwareSettings m_set;

    // Measurements of this tick: X, Y, I0 of each BPM.
    double m_meas[2][3] = {};

    Loop m_loop[3];
    bool m_rocLatched = false;
    int m_status = zevo::PID_STATUS_OFF;

    // Outputs.
    double m_host[4] = {0, 0, 0, 0};
    double m_dac[4] = {0, 0, 0, 0};

    // Picoammeters.
    Pico m_pico[2];

    // Display stream.
    uint32_t m_displayPhase = 0;
    double m_accumulated[kFields] = {};
    int m_accumulatedTicks = 0;
    std::vector<zevo::DisplayRecord> m_ring;
    uint64_t m_produced = 0;

    // Statistics: per-tick sums of the running block, and the last second.
    int m_blockTick = 0;
    double m_shift[6] = {};
    double m_sum[6] = {};
    double m_sumSq[6] = {};
    double m_blockMean[6] = {}; // of the last completed block
    std::vector<StatBlock> m_stats;
    int m_statHead = 0;
    int m_statCount = 0;
};
