#include "vibration/analysis/averager.h"

#include <algorithm>
#include <cmath>

namespace diagnostika::vibration {

namespace {

SpectrumSettings sanitised(SpectrumSettings s)
{
    if (frameSizeForLines(s.lines) == 0) {
        int lines = 400;
        while (lines < 25600 && lines < s.lines)
            lines *= 2;
        s.lines = lines;
    }
    s.overlap = std::isfinite(s.overlap) ? std::clamp(s.overlap, 0.0, 0.75) : 0.0;
    s.averages = std::max(1, s.averages);
    return s;
}

} // namespace

std::size_t frameSizeForLines(int lines)
{
    for (int l = 400; l <= 25600; l *= 2) {
        if (l == lines)
            return static_cast<std::size_t>(lines) * 256 / 100;
    }
    return 0;
}

SpectrumAnalyzer::SpectrumAnalyzer(const SpectrumSettings& settings)
    : settings_(sanitised(settings)), n_(frameSizeForLines(settings_.lines)),
      hop_(std::max<std::size_t>(1, n_ - static_cast<std::size_t>(std::lround(
                                             settings_.overlap * static_cast<double>(n_))))),
      window_(makeWindow(settings_.window, n_)), fft_(n_), frame_(n_), bins_(n_ / 2 + 1),
      power_(static_cast<std::size_t>(settings_.lines) + 1)
{
    spectrum_.lineSpacing = settings_.sampleRate / static_cast<double>(n_);
    spectrum_.window = settings_.window;
    spectrum_.scale = settings_.scale;
}

int SpectrumAnalyzer::add(std::span<const float> samples)
{
    pending_.insert(pending_.end(), samples.begin(), samples.end());
    int finished = 0;
    while (pending_.size() - pendingStart_ >= n_) {
        processFrame(pending_.data() + pendingStart_);
        pendingStart_ += hop_;
        const bool done =
            settings_.averaging == Averaging::Exponential || frames_ == settings_.averages;
        if (done) {
            publish();
            ++finished;
        }
    }
    // Drop what no frame needs any more, without moving the samples on every call.
    if (pendingStart_ > n_) {
        pending_.erase(pending_.begin(),
                       pending_.begin() + static_cast<std::ptrdiff_t>(pendingStart_));
        pendingStart_ = 0;
    }
    return finished;
}

void SpectrumAnalyzer::processFrame(const float* frame)
{
    for (std::size_t i = 0; i < n_; ++i)
        frame_[i] = frame[i] * window_[i];
    fft_.forward(frame_, bins_);
    const bool exponential = settings_.averaging == Averaging::Exponential;
    const int count = exponential ? std::min(frames_ + 1, settings_.averages) : frames_ + 1;
    const double weight = 1.0 / count;
    for (std::size_t k = 0; k < power_.size(); ++k) {
        const double p = std::norm(std::complex<double>(bins_[k]));
        power_[k] += (p - power_[k]) * weight; // a running mean, exponential once count stops
    }
    frames_ = count;
}

void SpectrumAnalyzer::publish()
{
    // A sine of amplitude A on a line gives |X| = A n cg / 2; the mean (line 0) gives n cg times.
    const double dc = 1.0 / (static_cast<double>(n_) * coherentGain(settings_.window));
    const double line = 2 * dc * (settings_.scale == AmplitudeScale::Rms ? std::sqrt(0.5) : 1.0);
    spectrum_.amplitude.resize(power_.size());
    for (std::size_t k = 0; k < power_.size(); ++k)
        spectrum_.amplitude[k] = std::sqrt(power_[k]) * (k == 0 ? dc : line);
    spectrum_.averaged = frames_;
    if (settings_.averaging == Averaging::Linear) {
        std::fill(power_.begin(), power_.end(), 0.0);
        frames_ = 0;
    }
}

void SpectrumAnalyzer::reset()
{
    pending_.clear();
    pendingStart_ = 0;
    std::fill(power_.begin(), power_.end(), 0.0);
    frames_ = 0;
    spectrum_.amplitude.clear();
    spectrum_.averaged = 0;
}

} // namespace diagnostika::vibration
