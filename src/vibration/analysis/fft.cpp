#include "vibration/analysis/fft.h"

#include <algorithm>
#include <fftw3.h>
#include <mutex>
#include <stdexcept>

namespace diagnostika::vibration {

namespace {

// FFTW's planner (making and destroying plans) shares state between threads; executing a plan
// does not.
std::mutex& plannerMutex()
{
    static std::mutex mutex;
    return mutex;
}

} // namespace

struct RealFft::Plan {
    float* in = nullptr;
    fftwf_complex* out = nullptr;
    fftwf_plan plan = nullptr;

    Plan() = default;
    Plan(const Plan&) = delete;
    Plan& operator=(const Plan&) = delete;
    ~Plan()
    {
        std::lock_guard lock(plannerMutex());
        if (plan)
            fftwf_destroy_plan(plan);
        fftwf_free(in);
        fftwf_free(out);
    }
};

RealFft::RealFft(std::size_t n) : n_(n), plan_(std::make_unique<Plan>())
{
    if (n < 2 || n % 2 != 0)
        throw std::invalid_argument("RealFft: the size must be even and at least 2");
    std::lock_guard lock(plannerMutex());
    plan_->in = fftwf_alloc_real(n);
    plan_->out = fftwf_alloc_complex(n / 2 + 1);
    // An estimated plan is made in a millisecond; a measured one costs up to a second per size
    // for a gain the spectra do not need (see the benchmark).
    plan_->plan = fftwf_plan_dft_r2c_1d(static_cast<int>(n), plan_->in, plan_->out,
                                        FFTW_ESTIMATE | FFTW_DESTROY_INPUT);
}

RealFft::RealFft(RealFft&&) noexcept = default;
RealFft& RealFft::operator=(RealFft&&) noexcept = default;

RealFft::~RealFft() = default;

void RealFft::forward(std::span<const float> in, std::span<std::complex<float>> out)
{
    if (in.size() < n_ || out.size() < n_ / 2 + 1)
        throw std::invalid_argument("RealFft::forward: buffers smaller than the transform");
    std::copy_n(in.data(), n_, plan_->in);
    fftwf_execute(plan_->plan);
    for (std::size_t k = 0; k <= n_ / 2; ++k)
        out[k] = {plan_->out[k][0], plan_->out[k][1]};
}

} // namespace diagnostika::vibration
