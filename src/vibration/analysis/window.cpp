#include "vibration/analysis/window.h"

#include <array>
#include <cmath>
#include <numbers>

namespace diagnostika::vibration {

namespace {

constexpr std::array<double, 2> hann{0.5, 0.5};
// The flat-top of Stanford Research's analysers (also MATLAB's flattopwin): scalloping under
// 0.01 dB, side lobes at -93 dB.
constexpr std::array<double, 5> flatTop{0.21557895, 0.41663158, 0.277263158, 0.083578947,
                                        0.006947368};

double sinc(double x)
{
    if (std::abs(x) < 1e-12)
        return 1;
    return std::sin(std::numbers::pi * x) / (std::numbers::pi * x);
}

} // namespace

std::span<const double> windowCoefficients(WindowKind kind)
{
    if (kind == WindowKind::FlatTop)
        return flatTop;
    return hann;
}

std::vector<float> makeWindow(WindowKind kind, std::size_t n)
{
    const std::span<const double> a = windowCoefficients(kind);
    std::vector<float> w(n);
    for (std::size_t i = 0; i < n; ++i) {
        double sum = 0;
        for (std::size_t m = 0; m < a.size(); ++m) {
            const double sign = m % 2 == 0 ? 1.0 : -1.0;
            sum += sign * a[m] *
                   std::cos(2 * std::numbers::pi * static_cast<double>(m * i) /
                            static_cast<double>(n));
        }
        w[i] = static_cast<float>(sum);
    }
    return w;
}

double coherentGain(WindowKind kind)
{
    return windowCoefficients(kind)[0];
}

double noiseBandwidthLines(WindowKind kind)
{
    // sum w^2 / (sum w)^2 * n: a_0^2 + sum_{m>0} a_m^2 / 2, over a_0^2.
    const std::span<const double> a = windowCoefficients(kind);
    double power = a[0] * a[0];
    for (std::size_t m = 1; m < a.size(); ++m)
        power += a[m] * a[m] / 2;
    return power / (a[0] * a[0]);
}

double relativeResponse(WindowKind kind, double offset)
{
    // Each cosine term shifts the rectangular window's sinc by +-m lines; the alternating signs
    // of the terms cancel those of the shifted kernels, so the terms add (large-n form, exact to
    // O(1/n^2)).
    const std::span<const double> a = windowCoefficients(kind);
    double sum = a[0] * sinc(offset);
    for (std::size_t m = 1; m < a.size(); ++m) {
        const double md = static_cast<double>(m);
        sum += a[m] / 2 * (sinc(offset - md) + sinc(offset + md));
    }
    return sum / a[0];
}

} // namespace diagnostika::vibration
