#pragma once

// Real-to-complex transforms with FFTW, shared by every spectrum the program
// computes. Planning costs far more than a transform of the short lengths
// the display uses, so each length is planned once, on first use, and its
// plan and arrays are kept for the life of the object. Not thread-safe: one
// object per user, used from one thread.

#include <map>
#include <memory>
#include <vector>

class RealFft
{
public:
    RealFft();
    ~RealFft();
    RealFft(const RealFft&) = delete;
    RealFft& operator=(const RealFft&) = delete;

    // The n input values of a transform of length n, to be filled before
    // transform(n); null when n < 2 or FFTW cannot allocate or plan it.
    double* input(int n);

    // Transforms the input of length n into n / 2 + 1 complex values,
    // real and imaginary part side by side ({re0, im0, re1, im1, ...}); null
    // when input(n) is. The input is left as it was.
    const double* transform(int n);

    // The periodic Hann window of length n (0.5 - 0.5 cos(2 pi i / n)),
    // made with the plan and kept; empty when input(n) is null.
    const std::vector<double>& hann(int n);

    // Number of lengths planned so far.
    int planCount() const { return int(m_plans.size()); }

private:
    struct Plan;
    Plan* plan(int n);

    std::map<int, std::unique_ptr<Plan>> m_plans;
};
