#pragma once

// What the configuration file keeps of one PID loop (the [PID_X], [PID_Y]
// and [PID_I0] groups): the rate asked for, the controller's parameters as
// the PID window's boxes hold them, and the output offset. A key missing
// from the file reads as 0.
struct PidLoopSettings {
    double frequency = 0.0; // Hz asked for; the loop runs at a whole divider of the base rate
    double kp = 0.0;
    double ki = 0.0;
    double kd = 0.0;
    double eMin = 0.0; // dead band on the error
    double iMax = 0.0; // limit of the accumulated error
    double oMin = 0.0; // output limits, volts
    double oMax = 0.0;
    double oGain = 0.0;
    double offset = 0.0; // output offset, volts
};
