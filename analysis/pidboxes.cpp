#include "analysis/pidboxes.h"

#include <algorithm>
#include <cmath>

namespace pidboxes
{

namespace
{
QString number(double value)
{
    return QString::number(value, 'g', 4);
}
} // namespace

double rounded(double value)
{
    return text(value).toDouble();
}

QString text(double value)
{
    return QString::number(value, 'f', kDecimals);
}

bool fits(const PidLawParameters& p)
{
    const double largest = std::max({p.kp, p.ki, p.kd});
    double smallest = largest;
    for (double gain : {p.kp, p.ki, p.kd})
        if (gain > 0.0)
            smallest = std::min(smallest, gain);
    return p.kp >= 0.0 && p.ki >= 0.0 && p.kd >= 0.0 && largest <= kGainMax &&
           smallest >= kGainFloor && p.oGain >= kOGainMin && p.oGain <= kOGainMax;
}

bool propose(const PiTuning& pi, double rate, const PidLawParameters& stored, PidLawParameters* out,
             QString* problem)
{
    if (!std::isfinite(pi.kc) || pi.kc == 0.0 || !(rate > 0.0)) {
        *problem = QStringLiteral("The model gives no usable PI parameters.");
        return false;
    }
    const double sign = pi.kc < 0.0 ? -1.0 : 1.0;
    const auto convert = [&](double magnitude) {
        PidLawParameters base = stored;
        base.oGain = sign * magnitude;
        PidLawParameters p = controllerParameters(pi, rate, base);
        p.kp = rounded(p.kp);
        p.ki = rounded(p.ki);
        p.kd = rounded(p.kd);
        p.oGain = rounded(p.oGain);
        return p;
    };

    double present = std::fabs(stored.oGain);
    if (!(present > 0.0) || !std::isfinite(present))
        present = 1.0;
    PidLawParameters p = convert(present);
    if (fits(p)) {
        *out = p;
        return true;
    }
    // Magnitude of the largest gain at an O gain of 1.
    const PidLawParameters unit = controllerParameters(pi, rate, [&] {
        PidLawParameters b = stored;
        b.oGain = sign;
        return b;
    }());
    const double largest = std::max({std::fabs(unit.kp), std::fabs(unit.ki), std::fabs(unit.kd)});
    const double top = std::floor(std::log10(largest));
    // From the largest gain between 1 and 10 up to between 1000 and 10000.
    for (int shift = 0; shift <= 3; ++shift) {
        p = convert(std::pow(10.0, top - shift));
        if (fits(p)) {
            *out = p;
            return true;
        }
    }
    *problem = QStringLiteral("The proposed gains (Kp %1, Ki %2 at O gain %3) cannot be entered "
                              "in the PID boxes (gains 0 to 10000, O gain -90 to 100000, "
                              "5 decimals).")
                   .arg(number(std::fabs(unit.kp)), number(std::fabs(unit.ki)), number(sign));
    return false;
}

} // namespace pidboxes
