// The vibration window live, as a user runs it: the simulated input at 48 kHz, 6,400 lines (the
// standard count nearest 8,192: a 16,384-point frame) at 75 % overlap, time signal and spectrum
// redrawn on the window's own 50 ms timer, in real time. Reports the whole process's CPU, the part
// the simulator spends making the samples, and so the window's own; the samples lost; and how old
// the newest sample is when the window takes it (it is drawn in the same turn).
//
//   vibration_window_live [seconds, default 60]

#include "benchsupport.h"
#include "platform/sim/simvibration.h"
#include "vibration/vibrationform.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QMdiArea>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

using namespace diagnostika;

namespace {

// The simulated input, watched: how long making its samples takes, and how old the newest sample
// is when the window takes it.
class WatchedInput final : public VibrationInput {
public:
    WatchedInput(std::unique_ptr<VibrationInput> inner, const TickClock& clock)
        : inner_(std::move(inner)), clock_(clock)
    {
        connect(inner_.get(), &VibrationInput::blocksReady, this, &VibrationInput::blocksReady);
        connect(inner_.get(), &VibrationInput::inputLost, this, &VibrationInput::inputLost);
    }
    bool open(const VibrationSettings& s, VibrationError* e) override { return inner_->open(s, e); }
    void close() override { inner_->close(); }
    bool isOpen() const override { return inner_->isOpen(); }
    VibrationSettings settings() const override { return inner_->settings(); }
    VibrationScale scale() const override { return inner_->scale(); }
    std::uint64_t lostSamples() const override { return inner_->lostSamples(); }
    std::vector<VibrationBlock> takeBlocks() override
    {
        const double before = bench::threadCpuSeconds();
        std::vector<VibrationBlock> blocks = inner_->takeBlocks();
        makingCpu += bench::threadCpuSeconds() - before;
        if (!blocks.empty()) {
            const VibrationBlock& last = blocks.back();
            const double newestUs = last.sampleUs(last.samples.size() - 1);
            ages.push_back((static_cast<double>(clock_.milliseconds()) * 1e3 - newestUs) / 1e3);
        }
        return blocks;
    }

    double makingCpu = 0;
    std::vector<double> ages; // ms

private:
    std::unique_ptr<VibrationInput> inner_;
    const TickClock& clock_;
};

class WatchedProvider final : public VibrationInputProvider {
public:
    explicit WatchedProvider(const TickClock& clock) : inner_(clock), clock_(clock) {}
    std::vector<VibrationSource> sources() override { return inner_.sources(); }
    std::optional<VibrationCapabilities> capabilities(const QString& source,
                                                      VibrationError* error) override
    {
        return inner_.capabilities(source, error);
    }
    std::unique_ptr<VibrationInput> create() override
    {
        auto input = std::make_unique<WatchedInput>(inner_.create(), clock_);
        last = input.get();
        return input;
    }
    WatchedInput* last = nullptr;

private:
    SimulatedVibrationInputProvider inner_;
    const TickClock& clock_;
};

} // namespace

int main(int argc, char** argv)
{
    bench::preferOffscreen();
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(5, std::atoi(argv[1])) : 60;
    MonotonicClock clock;
    WatchedProvider inputs(clock);
    SpeedInput speed;
    VibrationForm form(inputs, speed);
    QMdiArea area;
    area.resize(900, 640);
    area.show();
    form.show(&area);
    for (const auto& [list, item] :
         {std::pair{"ciary", "6400"}, {"priemerovanie", "exponenciálny"}, {"pocet", "4"}})
        bench::pick(form.client(), list, item);
    // The simulator's own wake-ups are not the window's: only the window's timer takes blocks.
    QElapsedTimer wall;
    wall.start();
    const double cpu = bench::cpuSeconds();
    const double making = inputs.last ? inputs.last->makingCpu : 0;
    if (inputs.last)
        inputs.last->ages.clear();
    QTimer::singleShot(seconds * 1000, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
    const double elapsed = static_cast<double>(wall.nsecsElapsed()) * 1e-9;
    const double total = 100.0 * (bench::cpuSeconds() - cpu) / elapsed;
    const double sim = inputs.last ? 100.0 * (inputs.last->makingCpu - making) / elapsed : 0;
    std::vector<double> ages = inputs.last ? inputs.last->ages : std::vector<double>{};
    std::sort(ages.begin(), ages.end());
    const double worstAge = ages.empty() ? 0 : ages.back();
    const double medianAge = ages.empty() ? 0 : ages[ages.size() / 2];
    std::printf("vibration window live for %d s at 48 kHz, 6,400 lines, 75 %% overlap, 20 "
                "redraws/s: process %.1f %% of a core, of which the simulator making samples "
                "%.1f %%, the window %.1f %%; %llu samples lost; newest sample %.1f ms old when "
                "taken (median), %.1f ms worst, over %zu refreshes\n",
                seconds, total, sim, total - sim,
                static_cast<unsigned long long>(form.lostSamples()), medianAge, worstAge,
                ages.size());
    bench::summary("vibration window live: CPU of the window (process less the simulator)",
                   "< 5 % of a core", "%.1f %%", total - sim);
    bench::summary("vibration window live: samples lost", "0", "%llu",
                   static_cast<unsigned long long>(form.lostSamples()));
    bench::summary("vibration window live: newest sample's age when drawn, worst", "< 100 ms",
                   "%.1f ms", worstAge);
    form.close();
    return 0;
}
