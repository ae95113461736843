#pragma once

#include "sim/noisesource.h"
#include "sim/scenario.h"

#include <array>
#include <cstdint>
#include <vector>

// The physics of the virtual beamline, advanced in ticks of 10 us.
//
// Three actuators (pitch X, roll Y, intensity) follow DAC outputs 1 to 3
// through a dead time and a first-order lag. The beam they steer lands on
// two quadrant detectors (BPM 1 upstream, BPM 2 further down, with a longer
// lever). Its intensity follows a rocking curve of the two angle actuators,
// peaked inside the 4-6 V window, times a monotonic intensity actuator.
// Each detector's four electrode currents go to picoammeter inputs through
// the scenario's wiring; the picoammeter adds its noise, mains pick-up and
// range limits. On top: beam jitter, mechanical vibration lines (37 Hz by
// default) and mains pick-up at the BPMs, slow thermal drift of the optics
// and the storage ring's top-up sawtooth.
class BeamlineModel
{
public:
    static constexpr int kTicksPerSecond = 100000;
    static constexpr double kTickSeconds = 1.0 / kTicksPerSecond;
    static constexpr int kTicksPerBlock = 100; // slow effects update once per millisecond
    static constexpr int kActuators = 3;       // on DAC outputs 1, 2, 3
    static constexpr int kDacOutputs = 4;

    // Encoder counts of the angle actuators: centre and counts per volt.
    static constexpr double kEncoderCentre = 1610612736.0;
    static constexpr double kEncoderCountsPerVolt = 10000.0;

    // Beam position at a BPM per volt of the X (axis 0) or Y (axis 1)
    // actuator, in raw detector units, as long as the beam is well inside
    // the detector.
    static double positionGain(int bpm, int axis);
    // Actuator voltage that puts the beam on the centre of a BPM.
    static double centreVolts(int bpm, int axis);
    static double deadTimeSeconds(int actuator);
    static double lagSeconds(int actuator);

    explicit BeamlineModel(uint64_t seed);

    // Micrometres per raw detector unit: positions as the display shows
    // them with the scale factors the simulator starts with.
    static constexpr double kMicrometresPerUnit = 1000.0;

    // Noise, drift, beam and wiring; which picoammeters and encoders are read.
    void setScenario(const Scenario& scenario);
    // Front end of picoammeter p: collection efficiency of the biased
    // detector (0..1) and the full scale of the selected range, amperes.
    void setFrontEnd(int pico, double efficiency, double fullScale);

    // Puts the actuators at rest on the given outputs, as after a long wait.
    void settle(const double* dac);

    // One tick with the given DAC output voltages.
    void step(const double* dac)
    {
        advanceActuators(dac);
        computeSignals();
    }

    // Picoammeter input currents (index = channel 0..3), amperes.
    const double* channels(int pico) const { return m_channel[pico]; }
    // Encoder counts of the X (0) and Y (1) actuator, 0 .. 2^32-1.
    double encoderCounts(int axis) const { return m_encoder[axis]; }
    double actuator(int index) const { return m_act[index]; }
    double seconds() const { return double(m_tick) * kTickSeconds; }

private:
    struct Phasor {
        double c = 1, s = 0, cr = 1, sr = 0;
        void setFrequency(double hz);
        void rotate()
        {
            const double nc = c * cr - s * sr;
            s = s * cr + c * sr;
            c = nc;
        }
        void renormalise()
        {
            const double k = 1.5 - 0.5 * (c * c + s * s);
            c *= k;
            s *= k;
        }
    };

    static constexpr int kDelayLength = 1024; // ticks of dead time the line can hold

    void advanceActuators(const double* dac);
    void computeSignals();
    void blockUpdate();

    NoiseSource m_noise;
    int64_t m_tick = 0;
    int m_blockTick = 0;

    // Actuators.
    std::array<std::array<double, kDelayLength>, kActuators> m_delay{};
    unsigned m_head = 0;
    int m_deadTicks[kActuators];
    double m_alpha[kActuators];
    double m_act[kActuators] = {0, 0, 0};
    double m_lastIntensityVolts = -1e300;
    double m_intensityTransmission = 0;

    // Scenario.
    double m_noiseLevel = 1;
    double m_driftLevel = 1;
    bool m_beamPresent = true;
    bool m_picoPresent[2] = {true, true};
    bool m_encoderPlugged = false;
    DetectorWiring m_wiring[2];
    double m_efficiency[2] = {1, 1};
    double m_fullScale[2] = {1e-4, 1e-4};

    // Slow state, updated per block.
    double m_beam = 1;
    double m_driftX = 0, m_driftY = 0;
    double m_walkX = 0, m_walkY = 0;
    double m_intensityDrift = 1;

    struct Vibration {
        Phasor phasor;
        double amplitude = 0; // raw detector units
    };
    std::vector<Vibration> m_vibration;
    double m_mainsAmplitude = 0; // raw detector units
    double m_kick[2] = {0, 0};   // raw detector units
    Phasor m_mains50;
    Phasor m_mains150;
    double m_mainsCos[2];
    double m_mainsSin[2];

    double m_channel[2][4] = {};
    double m_encoder[2] = {kEncoderCentre, kEncoderCentre};
};
