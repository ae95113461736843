#include "sim/beamlinemodel.h"

#include <algorithm>
#include <cmath>

namespace
{
constexpr double kPi = 3.14159265358979323846;

// Per BPM (upstream, downstream) and axis (X, Y).
constexpr double kGain[2][2] = {{0.20, 0.15}, {0.32, 0.24}};
constexpr double kCentre[2][2] = {{5.10, 5.30}, {5.05, 5.35}};
constexpr double kLever[2] = {1.0, 1.3}; // beam jitter seen at each BPM
constexpr double kCrossTalk = 0.02;      // X actuator seen in Y, per volt of gain
constexpr double kPeakCurrent[2] = {100e-6, 40e-6};

// Actuators X, Y, intensity.
constexpr double kDeadTime[3] = {1.0e-3, 1.5e-3, 0.5e-3};
constexpr double kLag[3] = {2.5e-3, 4.0e-3, 1.5e-3};

// Rocking curve: a narrow peak in X whose centre moves a little with Y (a
// tilted ridge), a broad one in Y with a floor, so that a scan of either
// axis with the other held anywhere still shows a single peak in 4-6 V.
constexpr double kPeakX = 5.0;
constexpr double kWidthX = 0.3;
constexpr double kRidgeTilt = 0.08;
constexpr double kPeakY = 5.2;
constexpr double kWidthY = 0.9;
constexpr double kFloorY = 0.3;
// Intensity actuator: opens monotonically (a sigmoid around 4 V).
constexpr double kIntensityMid = 4.0;
constexpr double kIntensitySpan = 1.2;

// Noise at noise level 1: a quiet beamline, on which a 0.1 V step still
// stands out clearly, with lines well above the floor of the spectrum.
constexpr double kJitter = 0.0003;         // raw units per tick at BPM 1
constexpr double kIntensityNoise = 0.0003; // relative, per tick
constexpr double kInputNoise = 2e-5;       // of the range's full scale, per tick
constexpr double kMains = 5e-5;            // 50 Hz pick-up on the currents, of full scale
constexpr double kMainsHarmonic = 0.3;     // of it at 150 Hz
constexpr double kDarkCurrent = 20e-12;

// Drift at drift level 1.
constexpr double kDriftAmplitudeX = 0.08; // volts of equivalent angle
constexpr double kDriftPeriodX = 420.0;   // seconds
constexpr double kDriftAmplitudeY = 0.06;
constexpr double kDriftPeriodY = 610.0;
constexpr double kWalkSigma = 0.02; // stationary deviation, volts
constexpr double kWalkTau = 60.0;   // seconds
constexpr double kTopUpPeriod = 300.0;
constexpr double kTopUpLoss = 0.03;

constexpr double kBeamTau = 2e-3; // beam loss and return take a few milliseconds

// Quadrant response to a true offset: linear near the centre, saturating at
// the detector's edge (a Pade form of tanh, exact to 1e-4 below 0.3).
inline double detectorResponse(double x)
{
    const double x2 = x * x;
    const double r = x * (27.0 + x2) / (27.0 + 9.0 * x2);
    return r > 1.0 ? 1.0 : (r < -1.0 ? -1.0 : r);
}
} // namespace

double BeamlineModel::positionGain(int bpm, int axis)
{
    return kGain[bpm ? 1 : 0][axis ? 1 : 0];
}

double BeamlineModel::centreVolts(int bpm, int axis)
{
    return kCentre[bpm ? 1 : 0][axis ? 1 : 0];
}

double BeamlineModel::deadTimeSeconds(int actuator)
{
    return kDeadTime[std::clamp(actuator, 0, 2)];
}

double BeamlineModel::lagSeconds(int actuator)
{
    return kLag[std::clamp(actuator, 0, 2)];
}

void BeamlineModel::Phasor::setFrequency(double hz)
{
    cr = std::cos(2 * kPi * hz * kTickSeconds);
    sr = std::sin(2 * kPi * hz * kTickSeconds);
}

BeamlineModel::BeamlineModel(uint64_t seed) : m_noise(seed)
{
    for (int a = 0; a < kActuators; ++a) {
        m_deadTicks[a] = int(std::lround(kDeadTime[a] * kTicksPerSecond));
        m_alpha[a] = 1.0 - std::exp(-kTickSeconds / kLag[a]);
    }
    m_mains50.setFrequency(50.0);
    m_mains150.setFrequency(150.0);
    // Each picoammeter picks up the mains with its own phase (cable routing).
    for (int p = 0; p < 2; ++p) {
        const double phase = 2 * kPi * m_noise.uniform();
        m_mainsCos[p] = std::cos(phase);
        m_mainsSin[p] = std::sin(phase);
    }
}

void BeamlineModel::setScenario(const Scenario& scenario)
{
    m_noiseLevel = std::max(0.0, scenario.noiseLevel);
    m_driftLevel = std::max(0.0, scenario.driftLevel);
    // A line that is already there keeps its phase, so that changing an
    // amplitude does not make the beam jump.
    m_vibration.resize(scenario.vibration.size());
    for (std::size_t k = 0; k < m_vibration.size(); ++k) {
        const VibrationLine& line = scenario.vibration[k];
        const bool usable = std::isfinite(line.hz) && std::isfinite(line.micrometres);
        m_vibration[k].phasor.setFrequency(usable ? line.hz : 0.0);
        m_vibration[k].amplitude = usable ? line.micrometres / kMicrometresPerUnit : 0.0;
    }
    m_mainsAmplitude = std::isfinite(scenario.mainsMicrometres)
                           ? scenario.mainsMicrometres / kMicrometresPerUnit
                           : 0.0;
    for (int axis = 0; axis < 2; ++axis) {
        const double kick = scenario.kickMicrometres[std::size_t(axis)];
        m_kick[axis] = std::isfinite(kick) ? kick / kMicrometresPerUnit : 0.0;
    }
    m_beamPresent = scenario.beamPresent;
    m_picoPresent[0] = scenario.picoCount() >= 1;
    m_picoPresent[1] = scenario.picoCount() >= 2;
    m_encoderPlugged = scenario.encoderPlugged();
    for (int p = 0; p < 2; ++p) {
        m_wiring[p] = scenario.wiring[p];
        for (int& ch : m_wiring[p].channel)
            ch = std::clamp(ch, 0, 3);
        if (!m_picoPresent[p])
            std::fill(std::begin(m_channel[p]), std::end(m_channel[p]), 0.0);
    }
}

void BeamlineModel::setFrontEnd(int pico, double efficiency, double fullScale)
{
    m_efficiency[pico ? 1 : 0] = efficiency;
    m_fullScale[pico ? 1 : 0] = fullScale;
}

void BeamlineModel::settle(const double* dac)
{
    for (int a = 0; a < kActuators; ++a) {
        m_delay[a].fill(dac[a]);
        m_act[a] = dac[a];
    }
}

void BeamlineModel::advanceActuators(const double* dac)
{
    const unsigned head = m_head++;
    for (int a = 0; a < kActuators; ++a) {
        m_delay[a][head & (kDelayLength - 1)] = dac[a];
        const double delayed = m_delay[a][(head - unsigned(m_deadTicks[a])) & (kDelayLength - 1)];
        m_act[a] += (delayed - m_act[a]) * m_alpha[a];
    }
    ++m_tick;
    if (++m_blockTick == kTicksPerBlock) {
        m_blockTick = 0;
        blockUpdate();
    }
}

void BeamlineModel::blockUpdate()
{
    const double t = seconds();
    const double dt = kTicksPerBlock * kTickSeconds;

    // Thermal drift of the optics: slow swings plus a mean-reverting walk.
    const double walkStep = kWalkSigma * std::sqrt(2 * dt / kWalkTau);
    m_walkX += -m_walkX * dt / kWalkTau + walkStep * m_noise.gauss();
    m_walkY += -m_walkY * dt / kWalkTau + walkStep * m_noise.gauss();
    m_driftX = m_driftLevel * (kDriftAmplitudeX * std::sin(2 * kPi * t / kDriftPeriodX) + m_walkX);
    m_driftY = m_driftLevel * (kDriftAmplitudeY * std::sin(2 * kPi * t / kDriftPeriodY) + m_walkY);

    // Stored current decays between top-ups.
    const double phase = t / kTopUpPeriod - std::floor(t / kTopUpPeriod);
    m_intensityDrift = 1.0 - m_driftLevel * kTopUpLoss * phase;

    m_beam += ((m_beamPresent ? 1.0 : 0.0) - m_beam) * (1.0 - std::exp(-dt / kBeamTau));

    for (Vibration& v : m_vibration)
        v.phasor.renormalise();
    m_mains50.renormalise();
    m_mains150.renormalise();
}

void BeamlineModel::computeSignals()
{
    m_mains50.rotate();
    m_mains150.rotate();

    const double noise = m_noiseLevel;
    // Vibration and pick-up move the beam as the BPMs see it, alike at both.
    double vx = 0.0, vy = 0.0;
    for (Vibration& v : m_vibration) {
        v.phasor.rotate();
        vx += v.amplitude * v.phasor.s;
        vy += v.amplitude * v.phasor.c;
    }
    vx += m_mainsAmplitude * (m_mains50.s + kMainsHarmonic * m_mains150.s);
    vy += m_mainsAmplitude * (m_mains50.c + kMainsHarmonic * m_mains150.c);
    vx = vx * noise + m_kick[0];
    vy = vy * noise + m_kick[1];

    const double ex = m_act[0] + m_driftX;
    const double ey = m_act[1] + m_driftY;

    if (m_act[2] != m_lastIntensityVolts) {
        m_lastIntensityVolts = m_act[2];
        m_intensityTransmission =
            1.0 / (1.0 + std::exp(-(m_act[2] - kIntensityMid) / kIntensitySpan));
    }
    const double dx = (ex - (kPeakX + kRidgeTilt * (ey - kPeakY))) / kWidthX;
    const double dy = (ey - kPeakY) / kWidthY;
    const double rocking =
        std::exp(-0.5 * dx * dx) * (kFloorY + (1.0 - kFloorY) * std::exp(-0.5 * dy * dy));
    const double intensity = rocking * m_intensityTransmission * m_beam * m_intensityDrift *
                             (1.0 + noise * kIntensityNoise * m_noise.gauss());

    const double jx = noise * kJitter * m_noise.gauss();
    const double jy = noise * kJitter * m_noise.gauss();

    for (int p = 0; p < 2; ++p) {
        if (!m_picoPresent[p])
            continue;
        const double xt = kGain[p][0] * (ex - kCentre[p][0]) + jx * kLever[p] + vx;
        const double yt = kGain[p][1] * (ey - kCentre[p][1]) +
                          kCrossTalk * kGain[p][0] * (ex - kCentre[p][0]) + jy * kLever[p] + vy;
        const double sx = detectorResponse(xt);
        const double sy = detectorResponse(yt);
        const double quarter = 0.25 * kPeakCurrent[p] * intensity * m_efficiency[p];

        // Electrodes top, right, bottom, left (at 45 deg: upper-left,
        // upper-right, lower-right, lower-left).
        double e[4];
        if (m_wiring[p].orientation90) {
            e[0] = quarter * (1.0 + sy);
            e[1] = quarter * (1.0 + sx);
            e[2] = quarter * (1.0 - sy);
            e[3] = quarter * (1.0 - sx);
        } else {
            e[0] = quarter * (1.0 - sx) * (1.0 + sy);
            e[1] = quarter * (1.0 + sx) * (1.0 + sy);
            e[2] = quarter * (1.0 + sx) * (1.0 - sy);
            e[3] = quarter * (1.0 - sx) * (1.0 - sy);
        }

        double* ch = m_channel[p];
        ch[0] = ch[1] = ch[2] = ch[3] = kDarkCurrent;
        for (int k = 0; k < 4; ++k)
            ch[m_wiring[p].channel[k]] += e[k];

        const double fs = m_fullScale[p];
        const double mains50 = noise * kMains * fs;
        const double sigma = noise * kInputNoise * fs;
        for (int c = 0; c < 4; ++c) {
            const double pickUp =
                mains50 * (m_mainsCos[p] * m_mains50.s + m_mainsSin[p] * m_mains50.c) +
                kMainsHarmonic * mains50 * (m_mainsSin[p] * m_mains150.s);
            const double v = ch[c] + pickUp + sigma * m_noise.gauss();
            // The input saturates a little beyond full scale.
            ch[c] = std::clamp(v, -0.02 * fs, 1.05 * fs);
        }
    }

    if (m_encoderPlugged) {
        for (int a = 0; a < 2; ++a) {
            const double counts = kEncoderCentre +
                                  kEncoderCountsPerVolt * (m_act[a] - kCentre[0][a]) +
                                  noise * 0.5 * m_noise.gauss();
            m_encoder[a] = std::clamp(std::nearbyint(counts), 0.0, 4294967295.0);
        }
    }
}
