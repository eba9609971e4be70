#include "vibration/analysis/peaks.h"

#include <algorithm>
#include <cmath>

namespace diagnostika::vibration {

namespace {

// The tone's distance (0..0.5 lines) towards the higher neighbour, from the neighbour's ratio to
// the peak line: the ratio |W(1 - d)| / |W(d)| grows from |W(1)| at d = 0 to 1 at d = 0.5.
double offsetFromRatio(WindowKind window, double ratio)
{
    double low = 0, high = 0.5;
    for (int i = 0; i < 40; ++i) {
        const double mid = (low + high) / 2;
        const double r =
            std::abs(relativeResponse(window, 1 - mid)) / std::abs(relativeResponse(window, mid));
        (r < ratio ? low : high) = mid;
    }
    return (low + high) / 2;
}

} // namespace

std::vector<SpectrumPeak> findPeaks(const Spectrum& spectrum, std::size_t count,
                                    std::optional<double> shaftHz)
{
    const std::vector<double>& a = spectrum.amplitude;
    std::vector<SpectrumPeak> peaks;
    for (std::size_t k = 1; k + 1 < a.size(); ++k) {
        if (!(a[k] > a[k - 1] && a[k] >= a[k + 1]))
            continue;
        const bool above = a[k + 1] >= a[k - 1];
        const double neighbour = above ? a[k + 1] : a[k - 1];
        const double d = a[k] > 0 ? offsetFromRatio(spectrum.window, neighbour / a[k]) : 0;
        SpectrumPeak p;
        p.line = k;
        p.frequency = spectrum.frequency(k) + (above ? d : -d) * spectrum.lineSpacing;
        p.amplitude = a[k] / std::abs(relativeResponse(spectrum.window, d));
        if (shaftHz && *shaftHz > 0)
            p.order = p.frequency / *shaftHz;
        peaks.push_back(p);
    }
    const std::size_t kept = std::min(count, peaks.size());
    std::partial_sort(
        peaks.begin(), peaks.begin() + static_cast<std::ptrdiff_t>(kept), peaks.end(),
        [](const SpectrumPeak& x, const SpectrumPeak& y) { return x.amplitude > y.amplitude; });
    peaks.resize(kept);
    return peaks;
}

} // namespace diagnostika::vibration
