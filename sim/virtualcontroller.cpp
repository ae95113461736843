#include "sim/virtualcontroller.h"

#include "sim/virtualmailbox.h"

#include <algorithm>
#include <cmath>
#include <cstring>

using zevo::MailboxMessage;

namespace
{
constexpr double kCountsFullScale = 2147483648.0; // encoder counts per raw position unit
constexpr double kCountsMax = 4294967295.0;

// 100 kHz base of the loops, 5 kHz with an encoder interface (20 ticks).
constexpr int64_t kEncoderBaseTicks = 20;

// Display record values that the controller fills, in the order of the
// per-tick value array.
constexpr int kFieldIndex[17] = {
    zevo::disp::Bpm1X,        zevo::disp::Bpm1Y,        zevo::disp::Bpm1I0,
    zevo::disp::Bpm2X,        zevo::disp::Bpm2Y,        zevo::disp::Bpm2I0,
    zevo::disp::Dac1,         zevo::disp::Dac1 + 1,     zevo::disp::Dac1 + 2,
    zevo::disp::Pico1Ch1,     zevo::disp::Pico1Ch1 + 1, zevo::disp::Pico1Ch1 + 2,
    zevo::disp::Pico1Ch1 + 3, zevo::disp::Pico2Ch1,     zevo::disp::Pico2Ch1 + 1,
    zevo::disp::Pico2Ch1 + 2, zevo::disp::Pico2Ch1 + 3};

constexpr double kRangeFullScale[2] = {100e-6, 100e-9};
// The automatic range switches to 100 nA below this current, back above it.
constexpr double kAutoRangeLimit = 90e-9;

// Collection efficiency of the biased detector: some charge is collected
// without bias, all of it from a few hundred volts on.
double collectionEfficiency(double volts)
{
    return 0.6 + 0.4 * (1.0 - std::exp(-std::fabs(volts) / 40.0));
}

// A position quotient limited to the detector; no signal reads as centred.
inline double quotient(double difference, double sum)
{
    if (!(sum > 0.0))
        return 0.0;
    const double q = difference / sum;
    return q > 1.0 ? 1.0 : (q < -1.0 ? -1.0 : q);
}
} // namespace

FirmwareSettings::FirmwareSettings()
{
    // The intensity loop works on amperes: a large output gain.
    PidLawParameters intensity;
    intensity.kp = 0.0;
    intensity.ki = 50.0;
    intensity.kd = 0.0;
    intensity.oMin = 0.0;
    intensity.oMax = 10.0;
    intensity.oGain = 100.0;
    staged[zevo::kPidI0] = active[zevo::kPidI0] = intensity;
}

VirtualController::VirtualController(const Scenario& scenario)
    : m_scenario(scenario), m_beamline(scenario.seed), m_ring(kDisplayRingRecords),
      m_stats(kStatBlocks)
{
    std::memset(m_ring.data(), 0, m_ring.size() * sizeof(zevo::DisplayRecord));
    // Set up for the beamline it powers up with: the channel maps and
    // orientations match the wiring, and with an encoder interface BPM 1's
    // offsets centre the encoder counts.
    for (int b = 0; b < 2; ++b) {
        std::copy(scenario.wiring[b].channel.begin(), scenario.wiring[b].channel.end(),
                  m_set.channelMap[b]);
        m_set.orientation90[b] = scenario.wiring[b].orientation90;
    }
    if (scenario.encoderPlugged())
        m_set.offsetX[0] = m_set.offsetY[0] = BeamlineModel::kEncoderCentre / kCountsFullScale;
    for (int c = 0; c < 3; ++c)
        m_loop[c].law.hold(m_set.pidOffset[c]);
    for (int p = 0; p < 2; ++p) {
        m_pico[p].hvVolts = m_set.hvEnabled[p] ? m_set.hvSet[p] : 0.0;
        m_pico[p].hvState = m_set.hvEnabled[p] ? zevo::kHvOn : zevo::kHvOff;
    }
    setScenario(scenario);
    m_beamline.settle(m_dac);
}

void VirtualController::setScenario(const Scenario& scenario)
{
    m_scenario = scenario;
    m_picoPlugged[0] = scenario.picoCount() >= 1;
    m_picoPlugged[1] = scenario.picoCount() >= 2;
    m_dacPlugged = scenario.dacPlugged();
    m_encoder = scenario.encoderPlugged();
    if (!scenario.versionCommands) {
        m_set.displayDivider = kLegacyDisplayDivider;
        m_set.displayFilter = false;
    }
    m_beamline.setScenario(scenario);
    for (int p = 0; p < 2; ++p) {
        if (!m_picoPlugged[p]) {
            std::fill(std::begin(m_pico[p].latest), std::end(m_pico[p].latest), 0.0);
            std::fill(std::begin(m_pico[p].blockSum), std::end(m_pico[p].blockSum), 0.0);
        }
    }
    updateLoopPeriods();
    updateFrontEnds(false);
    updateOutputs();
}

// ---------------------------------------------------------------- the tick

void VirtualController::run(int64_t ticks)
{
    for (int64_t i = 0; i < ticks; ++i)
        tick();
}

void VirtualController::tick()
{
    m_beamline.step(m_dac);
    ++m_ticks;
    measure();

    // Statistics of this millisecond, shifted by the last block's mean so
    // that the sums keep their precision.
    const double* meas = &m_meas[0][0];
    for (int k = 0; k < 6; ++k) {
        const double d = meas[k] - m_shift[k];
        m_sum[k] += d;
        m_sumSq[k] += d * d;
    }
    for (int p = 0; p < 2; ++p) {
        const double* ch = m_beamline.channels(p);
        for (int c = 0; c < 4; ++c)
            m_pico[p].blockSum[c] += ch[c];
    }

    // PID loops that are due.
    bool ran = false;
    for (int c = 0; c < 3; ++c) {
        if (--m_loop[c].countdown > 0)
            continue;
        m_loop[c].countdown = m_loop[c].periodTicks;
        runLoop(c);
        ran = true;
    }
    if (ran)
        updateOutputs();

    // Display stream: the values of this tick.
    double values[kFields];
    values[0] = m_meas[0][0];
    values[1] = m_meas[0][1];
    values[2] = m_meas[0][2];
    values[3] = m_meas[1][0];
    values[4] = m_meas[1][1];
    values[5] = m_meas[1][2];
    values[6] = m_dac[0];
    values[7] = m_dac[1];
    values[8] = m_dac[2];
    if (m_encoder) {
        const double e0 = m_beamline.encoderCounts(0);
        const double e1 = m_beamline.encoderCounts(1);
        values[9] = e0;
        values[10] = e1;
        values[11] = kCountsMax - e0;
        values[12] = kCountsMax - e1;
    } else {
        const double* ch = m_beamline.channels(0);
        for (int c = 0; c < 4; ++c)
            values[9 + c] = m_picoPlugged[0] ? ch[c] : 0.0;
    }
    {
        const double* ch = m_beamline.channels(1);
        for (int c = 0; c < 4; ++c)
            values[13 + c] = m_picoPlugged[1] ? ch[c] : 0.0;
    }

    if (m_set.displayFilter) {
        for (int k = 0; k < kFields; ++k)
            m_accumulated[k] += values[k];
        ++m_accumulatedTicks;
    }
    m_displayPhase += zevo::kDisplayClockHz / BeamlineModel::kTicksPerSecond;
    if (m_displayPhase >= m_set.displayDivider) {
        m_displayPhase -= m_set.displayDivider;
        if (m_set.displayFilter) {
            const double k = 1.0 / m_accumulatedTicks;
            for (double& v : m_accumulated)
                v *= k;
            emitRecord(m_accumulated);
            std::fill(std::begin(m_accumulated), std::end(m_accumulated), 0.0);
            m_accumulatedTicks = 0;
        } else {
            emitRecord(values);
        }
    }

    if (++m_blockTick == kTicksPerBlock) {
        m_blockTick = 0;
        endOfBlock();
    }
}

void VirtualController::measure()
{
    for (int b = 0; b < 2; ++b) {
        double* out = m_meas[b];
        const double* ch = m_beamline.channels(b);
        const bool pico = m_picoPlugged[b];
        double x = 0, y = 0;
        if (b == 0 && m_encoder) {
            // An encoder interface makes the actuator angles BPM 1's position.
            x = m_beamline.encoderCounts(0) / kCountsFullScale;
            y = m_beamline.encoderCounts(1) / kCountsFullScale;
        } else if (pico) {
            const int* map = m_set.channelMap[b];
            const double top = ch[map[0]], right = ch[map[1]], bottom = ch[map[2]],
                         left = ch[map[3]];
            if (m_set.orientation90[b]) {
                x = quotient(right - left, right + left);
                y = quotient(top - bottom, top + bottom);
            } else {
                // At 45 deg the electrodes sit in the corners (top = upper
                // left, right = upper right, bottom = lower right, left =
                // lower left): X is the right pair against the left pair, Y
                // the upper pair against the lower pair, over all four.
                const double sum = top + right + bottom + left;
                x = quotient(right + bottom - top - left, sum);
                y = quotient(top + right - bottom - left, sum);
            }
        } else {
            out[0] = out[1] = out[2] = 0.0;
            continue;
        }
        out[0] = x - m_set.offsetX[b];
        out[1] = y - m_set.offsetY[b];
        if (pico) {
            const int* map = m_set.channelMap[b];
            out[2] = ch[map[0]] + ch[map[1]] + ch[map[2]] + ch[map[3]];
        } else {
            out[2] = 0.0;
        }
    }
}

void VirtualController::emitRecord(const double* values)
{
    zevo::DisplayRecord& r = m_ring[m_produced & (kDisplayRingRecords - 1)];
    for (int k = 0; k < kFields; ++k)
        r.value[kFieldIndex[k]] = values[k];
    ++m_produced;
}

// ---------------------------------------------------------------- PID

void VirtualController::runLoop(int channel)
{
    Loop& loop = m_loop[channel];
    const PidLawParameters& p = m_set.active[channel];
    const double offset = m_set.pidOffset[channel];

    if (!m_set.feedbackEnabled || !loopRegulates(channel)) {
        loop.law.hold(offset);
        return;
    }
    // Without beam the loops hold their outputs (after a ROC fault those
    // are the offsets).
    if (m_status != zevo::PID_STATUS_ON)
        return;

    const int source = m_set.pidSource[channel];
    loop.law.run(p, m_set.setpoint[channel], m_meas[source][channel], offset);
}

void VirtualController::resetLoops()
{
    for (int c = 0; c < 3; ++c)
        m_loop[c].law.reset(m_set.pidOffset[c]);
}

void VirtualController::updateLoopPeriods()
{
    const int64_t base = m_encoder ? kEncoderBaseTicks : 1;
    for (int c = 0; c < 3; ++c) {
        m_loop[c].periodTicks = int64_t(std::max<uint32_t>(1, m_set.pidDivider[c])) * base;
        m_loop[c].countdown = std::min(m_loop[c].countdown, m_loop[c].periodTicks);
    }
}

void VirtualController::updateOutputs()
{
    if (!m_dacPlugged) {
        std::fill(std::begin(m_dac), std::end(m_dac), 0.0);
        return;
    }
    if (!m_set.outputsFromController) {
        std::copy(std::begin(m_host), std::end(m_host), std::begin(m_dac));
        return;
    }
    double out[4] = {0, 0, 0, 0};
    for (int c = 0; c < 3; ++c) {
        const int a = m_set.dacAssignment[c];
        if (a >= 0 && a < 4)
            out[a] = m_loop[c].law.output();
    }
    std::copy(std::begin(out), std::end(out), std::begin(m_dac));
}

void VirtualController::setHostOutputs(const double volts[4])
{
    std::copy(volts, volts + 4, m_host);
    updateOutputs();
}

// ---------------------------------------------------------------- once per millisecond

void VirtualController::endOfBlock()
{
    StatBlock& block = m_stats[m_statHead];
    const double n = kTicksPerBlock;
    for (int k = 0; k < 6; ++k) {
        const double meanShifted = m_sum[k] / n;
        block.mean[k] = m_shift[k] + meanShifted;
        block.m2[k] = std::max(0.0, m_sumSq[k] - n * meanShifted * meanShifted);
        m_blockMean[k] = block.mean[k];
        m_shift[k] = block.mean[k];
        m_sum[k] = m_sumSq[k] = 0.0;
    }
    m_statHead = (m_statHead + 1) % kStatBlocks;
    m_statCount = std::min(m_statCount + 1, kStatBlocks);

    for (int p = 0; p < 2; ++p) {
        for (int c = 0; c < 4; ++c) {
            m_pico[p].latest[c] = m_pico[p].blockSum[c] / n;
            m_pico[p].blockSum[c] = 0.0;
        }
    }

    evaluateStatus();
    updateFrontEnds(true);
}

void VirtualController::evaluateStatus()
{
    const int before = m_status;
    if (!m_set.feedbackEnabled) {
        m_status = zevo::PID_STATUS_OFF;
    } else if (m_rocLatched) {
        m_status = zevo::PID_STATUS_FAULT_ROC;
    } else {
        // Checked on the millisecond means; a detector that is not plugged
        // in has nothing to check. The ROC window is symmetric about the
        // origin, so only the upper limit counts.
        bool beamOff = false;
        bool outside = false;
        for (int b = 0; b < 2; ++b) {
            const bool measured = m_picoPlugged[b] || (b == 0 && m_encoder);
            if (!measured)
                continue;
            const double* mean = &m_blockMean[3 * b];
            if (m_picoPlugged[b] && m_set.rocEnable[zevo::rocIndex(b, 2)] &&
                mean[2] < m_set.rocHigh[zevo::rocIndex(b, 2)])
                beamOff = true;
            for (int axis = 0; axis < 2; ++axis) {
                const int k = zevo::rocIndex(b, axis);
                if (m_set.rocEnable[k] && std::fabs(mean[axis]) > m_set.rocHigh[k])
                    outside = true;
            }
        }
        if (beamOff) {
            m_status = zevo::PID_STATUS_BEAM_OFF;
        } else if (outside) {
            // An excursion out of the region of control stays a fault until
            // the operator resets the controller or switches feedback again;
            // meanwhile the outputs go back to their offsets, the operating
            // point that was known to be good.
            m_rocLatched = true;
            m_status = zevo::PID_STATUS_FAULT_ROC;
            resetLoops();
            updateOutputs();
        } else {
            m_status = zevo::PID_STATUS_ON;
        }
    }
    if (before != zevo::PID_STATUS_ON && m_status == zevo::PID_STATUS_ON) {
        for (Loop& loop : m_loop)
            loop.law.forgetPreviousError();
    }
}

void VirtualController::updateFrontEnds(bool rampStep)
{
    const double step = kHvRampVoltsPerSecond * kTicksPerBlock / BeamlineModel::kTicksPerSecond;
    for (int p = 0; p < 2; ++p) {
        Pico& pico = m_pico[p];
        const double target = m_set.hvEnabled[p] ? m_set.hvSet[p] : 0.0;
        bool ramping = true;
        if (!rampStep) {
            ramping = pico.hvState == zevo::kHvRising || pico.hvState == zevo::kHvFalling;
        } else if (pico.hvVolts < target - step) {
            pico.hvVolts += step;
            pico.hvState = zevo::kHvRising;
        } else if (pico.hvVolts > target + step) {
            pico.hvVolts -= step;
            pico.hvState = zevo::kHvFalling;
        } else {
            pico.hvVolts = target;
            pico.hvState = m_set.hvEnabled[p] ? zevo::kHvOn : zevo::kHvOff;
            ramping = false;
        }
        // Leakage through the detector, plus the charging current of a ramp.
        pico.hvCurrent = float(2e-4 * pico.hvVolts + (ramping ? 0.05 : 0.0));

        if (m_set.picoRange[p] == 2) {
            const double largest = *std::max_element(pico.latest, pico.latest + 4);
            if (pico.activeRange == 1 && largest > kAutoRangeLimit)
                pico.activeRange = 0;
            else if (pico.activeRange == 0 && largest < 0.5 * kAutoRangeLimit)
                pico.activeRange = 1;
        } else {
            pico.activeRange = m_set.picoRange[p];
        }
        m_beamline.setFrontEnd(p, collectionEfficiency(pico.hvVolts),
                               kRangeFullScale[pico.activeRange]);
    }
}

// ---------------------------------------------------------------- other requests

void VirtualController::transfer(MailboxMessage& message)
{
    VirtualMailbox(*this).transfer(message);
}

void VirtualController::readStatus(zevo::MailboxStatusBlock& block) const
{
    std::memset(&block, 0, sizeof block);
    // The header: seconds since power-up, PID status, regulation mode.
    const uint32_t uptime = uint32_t(m_ticks / BeamlineModel::kTicksPerSecond);
    std::memcpy(block.header, &uptime, sizeof uptime);
    block.header[4] = uint8_t(m_status);
    block.header[5] = uint8_t(m_set.regulationMode);

    const int n = m_statCount;
    if (n == 0)
        return;
    for (int b = 0; b < 2; ++b) {
        double mean[3] = {0, 0, 0};
        for (int i = 0; i < n; ++i)
            for (int q = 0; q < 3; ++q)
                mean[q] += m_stats[i].mean[3 * b + q];
        for (double& m : mean)
            m /= n;
        double m2[3] = {0, 0, 0};
        double blockVar[3] = {0, 0, 0};
        for (int i = 0; i < n; ++i) {
            for (int q = 0; q < 3; ++q) {
                const double d = m_stats[i].mean[3 * b + q] - mean[q];
                m2[q] += m_stats[i].m2[3 * b + q] + kTicksPerBlock * d * d;
                blockVar[q] += d * d;
            }
        }
        const double samples = double(n) * kTicksPerBlock;
        zevo::BpmStatistics& s = block.bpm[b];
        s.xMean = mean[0];
        s.xStd = std::sqrt(m2[0] / samples);
        s.xStd1kHz = std::sqrt(blockVar[0] / n);
        s.yMean = mean[1];
        s.yStd = std::sqrt(m2[1] / samples);
        s.yStd1kHz = std::sqrt(blockVar[1] / n);
        s.i0Mean = mean[2];
        s.i0Std = std::sqrt(m2[2] / samples);
        s.i0Std1kHz = std::sqrt(blockVar[2] / n);
    }
}

void VirtualController::picoInfo(int pico, zevo::PicoInfoRecord& record) const
{
    std::memset(&record, 0, sizeof record);
    if (!picoPlugged(pico))
        return;
    const Pico& p = m_pico[pico];
    record.hvCurrent = p.hvCurrent;
    record.hvVoltage = float(p.hvVolts);
    record.hvState = p.hvState;
    record.currentCh1 = p.latest[0];
    record.currentCh2 = p.latest[1];
    record.currentCh3 = p.latest[2];
    record.currentCh4 = p.latest[3];
}

void VirtualController::picoCurrents(int pico, zevo::PicoCurrentsRecord& record) const
{
    std::memset(&record, 0, sizeof record);
    if (!picoPlugged(pico))
        return;
    for (int c = 0; c < 4; ++c)
        record.current[3 - c] = m_pico[pico].latest[c];
}

int VirtualController::copyNewest(zevo::DisplayRecord* destination, int records) const
{
    const int n = std::clamp(records, 0, kDisplayRingRecords);
    const int available = int(std::min<uint64_t>(m_produced, uint64_t(n)));
    const int missing = n - available;
    if (missing > 0)
        std::memset(destination, 0, std::size_t(missing) * sizeof(zevo::DisplayRecord));

    const uint64_t first = m_produced - uint64_t(available);
    const int start = int(first & (kDisplayRingRecords - 1));
    const int firstPart = std::min(available, kDisplayRingRecords - start);
    std::memcpy(destination + missing, m_ring.data() + start,
                std::size_t(firstPart) * sizeof(zevo::DisplayRecord));
    std::memcpy(destination + missing + firstPart, m_ring.data(),
                std::size_t(available - firstPart) * sizeof(zevo::DisplayRecord));
    return n;
}
