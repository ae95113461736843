#include "analysis/realfft.h"

#include <fftw3.h>

#include <cmath>

struct RealFft::Plan {
    double* input = nullptr;
    fftw_complex* output = nullptr;
    fftw_plan plan = nullptr;
    std::vector<double> hann;

    explicit Plan(int n)
    {
        input = fftw_alloc_real(std::size_t(n));
        output = fftw_alloc_complex(std::size_t(n / 2 + 1));
        // FFTW_ESTIMATE plans without running trial transforms and leaves
        // the arrays alone.
        if (input && output)
            plan = fftw_plan_dft_r2c_1d(n, input, output, FFTW_ESTIMATE);
    }
    ~Plan()
    {
        if (plan)
            fftw_destroy_plan(plan);
        fftw_free(input);
        fftw_free(output);
    }
    Plan(const Plan&) = delete;
    Plan& operator=(const Plan&) = delete;
};

RealFft::RealFft() = default;
RealFft::~RealFft() = default;

RealFft::Plan* RealFft::plan(int n)
{
    if (n < 2)
        return nullptr;
    auto found = m_plans.find(n);
    if (found == m_plans.end())
        found = m_plans.emplace(n, std::make_unique<Plan>(n)).first;
    return found->second->plan ? found->second.get() : nullptr;
}

double* RealFft::input(int n)
{
    Plan* p = plan(n);
    return p ? p->input : nullptr;
}

const std::vector<double>& RealFft::hann(int n)
{
    static const std::vector<double> none;
    Plan* p = plan(n);
    if (!p)
        return none;
    if (p->hann.empty()) {
        constexpr double kPi = 3.14159265358979323846;
        p->hann.resize(std::size_t(n));
        for (int i = 0; i < n; ++i)
            p->hann[std::size_t(i)] = 0.5 - 0.5 * std::cos(2 * kPi * i / n);
    }
    return p->hann;
}

const double* RealFft::transform(int n)
{
    Plan* p = plan(n);
    if (!p)
        return nullptr;
    fftw_execute(p->plan);
    return &p->output[0][0];
}
