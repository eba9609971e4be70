#include "orderanalysis.h"

#include "vibration/analysis/fft.h"
#include "vibration/analysis/window.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <map>
#include <numbers>

namespace diagnostika::orders {

namespace {

constexpr double twoPi = 2.0 * std::numbers::pi;
// Revolutions of angle-domain signal held for spectra and averages.
constexpr int heldRevolutions = 256;

// One transform object per size and thread: planning costs far more than transforming.
vibration::RealFft& fftOf(std::size_t n)
{
    thread_local std::map<std::size_t, vibration::RealFft> plans;
    auto it = plans.find(n);
    if (it == plans.end())
        it = plans.emplace(n, vibration::RealFft(n)).first;
    return it->second;
}

} // namespace

OrderSpectrum orderSpectrum(std::span<const float> signal, int samplesPerRevolution,
                            double maxOrder)
{
    OrderSpectrum s;
    const std::size_t n = signal.size() / 2 * 2;
    if (n < 4 || samplesPerRevolution <= 0)
        return s;
    const double revolutions = static_cast<double>(n) / samplesPerRevolution;
    s.orderStep = 1.0 / revolutions;
    std::vector<float> windowed(n);
    const std::vector<float> w = vibration::makeWindow(vibration::WindowKind::Hann, n);
    for (std::size_t i = 0; i < n; ++i)
        windowed[i] = signal[i] * w[i];
    std::vector<std::complex<float>> bins(n / 2 + 1);
    fftOf(n).forward(windowed, bins);
    const auto lines =
        std::min(n / 2, static_cast<std::size_t>(std::floor(maxOrder * revolutions)));
    const double gain =
        static_cast<double>(n) * vibration::coherentGain(vibration::WindowKind::Hann);
    s.amplitude.resize(lines + 1);
    for (std::size_t k = 0; k <= lines; ++k)
        s.amplitude[k] = std::abs(bins[k]) * (k == 0 ? 1.0 : 2.0) / gain;
    return s;
}

std::optional<OrderPoint> peakNear(const OrderSpectrum& spectrum, double order, double halfWidth)
{
    if (spectrum.orderStep <= 0 || spectrum.amplitude.size() < 3)
        return std::nullopt;
    const auto last = static_cast<std::ptrdiff_t>(spectrum.amplitude.size()) - 2;
    const auto lo = std::max<std::ptrdiff_t>(
        1, static_cast<std::ptrdiff_t>(std::ceil((order - halfWidth) / spectrum.orderStep)));
    const auto hi = std::min<std::ptrdiff_t>(
        last, static_cast<std::ptrdiff_t>(std::floor((order + halfWidth) / spectrum.orderStep)));
    if (lo > hi)
        return std::nullopt;
    std::ptrdiff_t best = lo;
    for (std::ptrdiff_t k = lo; k <= hi; ++k)
        if (spectrum.amplitude[static_cast<std::size_t>(k)] >
            spectrum.amplitude[static_cast<std::size_t>(best)])
            best = k;
    const double a = spectrum.amplitude[static_cast<std::size_t>(best - 1)];
    const double b = spectrum.amplitude[static_cast<std::size_t>(best)];
    const double c = spectrum.amplitude[static_cast<std::size_t>(best + 1)];
    // A tone d lines from the peak line gives neighbours in the ratio (1 -+ d) / (2 +- d) under a
    // Hann window, so d = 2 (c - a) / (a + 2b + c) exactly.
    const double sum = a + 2 * b + c;
    const double d = sum > 0 ? std::clamp(2 * (c - a) / sum, -0.5, 0.5) : 0.0;
    OrderPoint p;
    p.order = (static_cast<double>(best) + d) * spectrum.orderStep;
    p.amplitude = b / vibration::relativeResponse(vibration::WindowKind::Hann, d);
    return p;
}

OrderPoint orderAt(std::span<const float> signal, std::int64_t firstIndex, int samplesPerRevolution,
                   double order)
{
    OrderPoint p;
    p.order = order;
    const std::size_t n = signal.size();
    if (n == 0 || samplesPerRevolution <= 0)
        return p;
    const double step = twoPi * order / samplesPerRevolution;
    // The rotation is restarted exactly every few hundred steps so its rounding cannot build up.
    std::complex<double> sum{};
    double weights = 0;
    const std::complex<double> turn = std::polar(1.0, -step);
    std::complex<double> phasor;
    for (std::size_t i = 0; i < n; ++i) {
        if (i % 256 == 0)
            phasor = std::polar(
                1.0,
                -std::fmod(step * static_cast<double>(firstIndex + static_cast<std::int64_t>(i)),
                           twoPi));
        const double w =
            0.5 - 0.5 * std::cos(twoPi * static_cast<double>(i) / static_cast<double>(n));
        sum += w * static_cast<double>(signal[i]) * phasor;
        weights += w;
        phasor *= turn;
    }
    p.amplitude = 2.0 * std::abs(sum) / weights;
    double phase = -std::arg(sum) * 180.0 / std::numbers::pi;
    if (phase < 0)
        phase += 360.0;
    p.phaseDeg = phase >= 360.0 ? phase - 360.0 : phase;
    return p;
}

std::vector<float> synchronousAverage(std::span<const float> signal, int samplesPerRevolution)
{
    if (samplesPerRevolution <= 0)
        return {};
    const std::size_t per = static_cast<std::size_t>(samplesPerRevolution);
    const std::size_t revolutions = signal.size() / per;
    if (revolutions == 0)
        return {};
    std::vector<double> sum(per, 0.0);
    for (std::size_t r = 0; r < revolutions; ++r)
        for (std::size_t i = 0; i < per; ++i)
            sum[i] += signal[r * per + i];
    std::vector<float> mean(per);
    for (std::size_t i = 0; i < per; ++i)
        mean[i] = static_cast<float>(sum[i] / static_cast<double>(revolutions));
    return mean;
}

std::optional<double> trackPeakSpeed(std::span<const OrderFrame> frames, std::size_t track)
{
    std::size_t best = frames.size();
    for (std::size_t i = 0; i < frames.size(); ++i)
        if (track < frames[i].tracks.size() &&
            (best == frames.size() ||
             frames[i].tracks[track].amplitude > frames[best].tracks[track].amplitude))
            best = i;
    if (best == frames.size())
        return std::nullopt;
    if (best == 0 || best + 1 == frames.size())
        return frames[best].speed;
    // The vertex of the parabola through the peak and its neighbours (unevenly spaced in speed).
    const double x0 = frames[best - 1].speed, x1 = frames[best].speed, x2 = frames[best + 1].speed;
    const double y0 = frames[best - 1].tracks[track].amplitude;
    const double y1 = frames[best].tracks[track].amplitude;
    const double y2 = frames[best + 1].tracks[track].amplitude;
    const double d01 = (y1 - y0) / (x1 - x0), d12 = (y2 - y1) / (x2 - x1);
    const double curve = (d12 - d01) / (x2 - x0);
    if (!(curve < 0) || !std::isfinite(curve))
        return x1;
    const double vertex = 0.5 * (x0 + x1) - d01 / (2 * curve);
    return std::clamp(vertex, std::min(x0, x2), std::max(x0, x2));
}

OrderTracker::OrderTracker(double pulsesPerRevolution, const OrderSettings& settings)
    : settings_(settings), tacho_(pulsesPerRevolution),
      resampler_(settings.samplesPerRevolution, settings.cutoffOrder)
{
}

OrderTracker::~OrderTracker() = default;

void OrderTracker::addEdge(bool level, std::int64_t stampUs, bool timed)
{
    tacho_.addEdge(level, stampUs, timed);
}

void OrderTracker::addSamples(double firstSampleUs, int rate, std::span<const float> samples)
{
    resampler_.addSamples(firstSampleUs, rate, samples);
}

int OrderTracker::revolutionsHeld() const
{
    return revolutionUs_.empty() ? 0 : static_cast<int>(revolutionUs_.size()) - 1;
}

std::span<const float> OrderTracker::recent(int revolutions, std::int64_t* firstIndex) const
{
    const int whole = std::min(revolutions, revolutionsHeld());
    const auto per = static_cast<std::size_t>(settings_.samplesPerRevolution);
    const std::size_t end = static_cast<std::size_t>(revolutionsHeld()) * per;
    const std::size_t begin = end - static_cast<std::size_t>(whole) * per;
    if (firstIndex)
        *firstIndex = (first_ + revolutionsHeld() - whole) * settings_.samplesPerRevolution;
    return std::span<const float>(signal_).subspan(begin, end - begin);
}

OrderFrame OrderTracker::makeFrame(std::int64_t startRevolution) const
{
    const int per = settings_.samplesPerRevolution;
    const int revolutions = settings_.frameRevolutions;
    const auto offset = static_cast<std::size_t>(startRevolution - first_);
    const std::span<const float> part = std::span<const float>(signal_).subspan(
        offset * static_cast<std::size_t>(per), static_cast<std::size_t>(revolutions * per));
    OrderFrame f;
    f.startUs = revolutionUs_[offset];
    f.endUs = revolutionUs_[offset + static_cast<std::size_t>(revolutions)];
    f.speed = revolutions * 60e6 / (f.endUs - f.startUs);
    f.spectrum = orderSpectrum(part, per, settings_.maxOrder);
    for (double order : settings_.trackedOrders)
        f.tracks.push_back(orderAt(part, startRevolution * per, per, order));
    return f;
}

std::vector<OrderFrame> OrderTracker::update()
{
    std::vector<OrderFrame> frames;
    const int per = settings_.samplesPerRevolution;
    for (int round = 0; round < 4; ++round) {
        std::vector<float> out;
        std::vector<double> revolutionUs;
        resampler_.run(tacho_, out, revolutionUs);
        if (!out.empty()) {
            std::int64_t index = *resampler_.nextIndex() - static_cast<std::int64_t>(out.size());
            std::size_t skip = 0;
            if (revolutionUs_.empty()) {
                // The signal held starts at a whole revolution.
                while (skip < out.size() && index % per != 0) {
                    ++skip;
                    ++index;
                }
                first_ = index / per;
                signal_.clear();
            }
            signal_.insert(signal_.end(), out.begin() + static_cast<std::ptrdiff_t>(skip),
                           out.end());
            revolutionUs_.insert(revolutionUs_.end(), revolutionUs.begin(), revolutionUs.end());
            if (!nextFrame_ && !revolutionUs_.empty())
                nextFrame_ = first_;
            while (nextFrame_ && static_cast<std::int64_t>(revolutionUs_.size()) >
                                     *nextFrame_ - first_ + settings_.frameRevolutions) {
                frames.push_back(makeFrame(*nextFrame_));
                *nextFrame_ += settings_.hopRevolutions;
            }
        }
        // Forget what no frame, spectrum or average will need.
        const std::int64_t drop = std::min<std::int64_t>(revolutionsHeld() - heldRevolutions,
                                                         nextFrame_ ? *nextFrame_ - first_ : 0);
        if (drop > 0) {
            signal_.erase(signal_.begin(), signal_.begin() + drop * per);
            revolutionUs_.erase(revolutionUs_.begin(), revolutionUs_.begin() + drop);
            first_ += drop;
        }
        if (!revolutionUs_.empty())
            tacho_.forgetBefore(revolutionUs_.back());
        if (resampler_.restarts() == seenRestarts_)
            break;
        // The signal broke: what follows starts afresh.
        seenRestarts_ = resampler_.restarts();
        ++breaks_;
        signal_.clear();
        revolutionUs_.clear();
        nextFrame_.reset();
    }
    return frames;
}

} // namespace diagnostika::orders
