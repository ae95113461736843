#pragma once

// The controller's discrete PID law, written down once. The virtual
// controller runs its three loops with it, and the tuning assistant uses it
// both to convert continuous PI parameters into the controller's parameters
// and to predict the closed loop, so that the prediction is what the loop
// really does.
//
// Each run of a loop (once every divider ticks of the base rate):
//   e  = setpoint - measured, set to 0 inside the dead band |e| < eMin
//   I  = clamp(I + e, -|iMax|, |iMax|)          (a sum of errors, no time step)
//   D  = e - e_previous                          (0 on the first run after a reset)
//   out = clamp(oGain (kp e + ki I + kd D) + offset, oMin, oMax)
// with anti-windup: I keeps its old value while the output sits in a limit
// that the growth of I would push it further into.
//
// A continuous PI controller Kc (1 + 1/(tauI s)) run every Ts seconds is
// therefore ki = Kc Ts / (tauI oGain) and kp = Kc (1 - Ts / (2 tauI)) / oGain:
// I includes this run's error, so half a run of it comes off kp to make the
// sum the trapezoidal integral. A derivative time tauD gives
// kd = Kc tauD / (Ts oGain).

struct PidLawParameters {
    double kp = 0.3;
    double ki = 0.1;
    double kd = 0.01;
    double eMin = 0.0;   // dead band on the error
    double iMax = 100.0; // limit of the accumulated error
    double oMin = -12.0;
    double oMax = 12.0;
    double oGain = 1.0;
};

// The run-time state of one loop.
class PidLaw
{
public:
    // Forgets the accumulated error and the previous error; the output
    // returns to `offset`.
    void reset(double offset);

    // One run of the loop; returns the new output (also output()).
    double run(const PidLawParameters& p, double setpoint, double measured, double offset);

    // Holds `value` as the output without running the law (feedback off, a
    // loop that does not regulate).
    void hold(double value) { m_output = value; }

    // Starts regulating afresh from the present output (a loop that joins
    // the regulation): no accumulated error, no derivative on the next run.
    void restart()
    {
        m_integral = 0.0;
        m_fresh = true;
    }

    // The next run takes no derivative: its previous error is too old to
    // difference against (the loop was held while the beam was away).
    void forgetPreviousError() { m_fresh = true; }

    double output() const { return m_output; }
    double integral() const { return m_integral; }

private:
    double m_integral = 0.0;
    double m_previousError = 0.0;
    bool m_fresh = true; // no previous error yet: no derivative kick
    double m_output = 0.0;
};
