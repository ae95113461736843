#include "analysis/pidlaw.h"

#include <algorithm>
#include <cmath>

void PidLaw::reset(double offset)
{
    m_integral = 0.0;
    m_previousError = 0.0;
    m_fresh = true;
    m_output = offset;
}

double PidLaw::run(const PidLawParameters& p, double setpoint, double measured, double offset)
{
    double error = setpoint - measured;
    if (std::fabs(error) < p.eMin)
        error = 0.0;

    const double iMax = std::fabs(p.iMax);
    const double integral = std::clamp(m_integral + error, -iMax, iMax);
    const double derivative = m_fresh ? 0.0 : error - m_previousError;
    m_previousError = error;
    m_fresh = false;

    const double u = p.kp * error + p.ki * integral + p.kd * derivative;
    const double raw = p.oGain * u + offset;
    const double out = std::min(std::max(raw, p.oMin), p.oMax);
    // Anti-windup: the accumulated error does not grow while the output sits
    // in a limit that the growth would push it further into. Which way the
    // growth pushes depends on the sign of ki * oGain.
    const bool pushesHigh = raw > p.oMax && integral > m_integral;
    const bool pushesLow = raw < p.oMin && integral < m_integral;
    const bool gainPositive = p.ki * p.oGain >= 0;
    if (out == raw || (gainPositive ? !(pushesHigh || pushesLow) : (pushesHigh || pushesLow)))
        m_integral = integral;
    m_output = out;
    return out;
}
