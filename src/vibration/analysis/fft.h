#pragma once
// The one real-to-complex FFT the analysis uses. FFTW 3 behind it (chosen by measurement against
// KissFFT, bench/vibration/fft_choice.cpp); nothing outside fft.cpp knows which library it is.
//
// Takes n real samples (n even, a power of two is fastest); gives the n/2 + 1 bins
// X_k = sum_i x_i exp(-j 2 pi k i / n), k = 0..n/2, unnormalised. One object serves one thread
// at a time; several objects may transform on several threads at once.

#include <complex>
#include <cstddef>
#include <memory>
#include <span>

namespace diagnostika::vibration {

class RealFft {
public:
    explicit RealFft(std::size_t n);
    ~RealFft();
    RealFft(const RealFft&) = delete;
    RealFft& operator=(const RealFft&) = delete;
    // A moved-from object may only be assigned to or destroyed.
    RealFft(RealFft&&) noexcept;
    RealFft& operator=(RealFft&&) noexcept;

    std::size_t size() const { return n_; }
    // `in` holds size() samples, `out` room for size() / 2 + 1 bins.
    void forward(std::span<const float> in, std::span<std::complex<float>> out);

private:
    struct Plan;
    std::size_t n_;
    std::unique_ptr<Plan> plan_;
};

} // namespace diagnostika::vibration
