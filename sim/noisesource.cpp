#include "sim/noisesource.h"

#include <cmath>

namespace
{
// Inverse of the standard normal distribution (Acklam's rational
// approximation, relative error below 1.2e-9).
double normalQuantile(double p)
{
    static const double a[] = {-3.969683028665376e+01, 2.209460984245205e+02,
                               -2.759285104469687e+02, 1.383577518672690e+02,
                               -3.066479806614716e+01, 2.506628277459239e+00};
    static const double b[] = {-5.447609879822406e+01, 1.615858368580409e+02,
                               -1.556989798598866e+02, 6.680131188771972e+01,
                               -1.328068155288572e+01};
    static const double c[] = {-7.784894002430293e-03, -3.223964580411365e-01,
                               -2.400758277161838e+00, -2.549732539343734e+00,
                               4.374664141464968e+00,  2.938163982698783e+00};
    static const double d[] = {7.784695709041462e-03, 3.224671290700398e-01, 2.445134137142996e+00,
                               3.754408661907416e+00};
    const double low = 0.02425;
    if (p < low) {
        const double q = std::sqrt(-2 * std::log(p));
        return (((((c[0] * q + c[1]) * q + c[2]) * q + c[3]) * q + c[4]) * q + c[5]) /
               ((((d[0] * q + d[1]) * q + d[2]) * q + d[3]) * q + 1);
    }
    if (p > 1 - low)
        return -normalQuantile(1 - p);
    const double q = p - 0.5;
    const double r = q * q;
    return (((((a[0] * r + a[1]) * r + a[2]) * r + a[3]) * r + a[4]) * r + a[5]) * q /
           (((((b[0] * r + b[1]) * r + b[2]) * r + b[3]) * r + b[4]) * r + 1);
}
} // namespace

const double* NoiseSource::table()
{
    static double values[kTableSize];
    static const bool built = [] {
        double sumSq = 0;
        for (int i = 0; i < kTableSize; ++i) {
            values[i] = normalQuantile((i + 0.5) / kTableSize);
            sumSq += values[i] * values[i];
        }
        // The quantiles of a finite table miss a little of the tails; rescale
        // so that the deviation is exactly one.
        const double k = 1.0 / std::sqrt(sumSq / kTableSize);
        for (double& v : values)
            v *= k;
        return true;
    }();
    (void)built;
    return values;
}

NoiseSource::NoiseSource(uint64_t seed)
    : m_table(table()), m_state(seed ? seed * 0x9E3779B97F4A7C15ULL : 1)
{
    if (m_state == 0)
        m_state = 1;
    for (int i = 0; i < 8; ++i)
        next();
}
