// The TLC549 read continuously as a vibration source, on the converter's device model (what
// --simulate reads), through the path the vibration window takes: the program's backends, the
// combined provider, capabilities, an input opened at the largest rate offered, its blocks taken
// on the UI thread's event loop. Prints the conversions per second the port reads reach unpaced,
// the grid rate offered and delivered, the samples lost, and the reading thread's CPU.
//   build/bench/vibration/vibration_lpt_rate [seconds]

#include "benchsupport.h"
#include "platform/backends.h"
#include "platform/combinedvibration.h"
#include "platform/linux/lptvibrationinput.h"

#include <QCoreApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

double seconds(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

} // namespace

int main(int argc, char** argv)
{
    using namespace diagnostika;
    QCoreApplication app(argc, argv);
    const double runSeconds = argc > 1 ? std::atof(argv[1]) : 3.0;

    BackendOptions options;
    options.simulate = true;
    Backends backends = makeBackends(options);
    const QString source = LptVibrationInput::sourceId(1);
    VibrationError error;
    const auto caps = backends.vibration->capabilities(source, &error);
    if (!caps) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(source), qPrintable(error.reason));
        return 1;
    }
    const int rate = caps->rates.back();
    const auto& parts = static_cast<CombinedVibrationInputProvider&>(*backends.vibration).parts();
    const double askedRate =
        static_cast<LptVibrationInputProvider&>(*parts.back().provider).readRate(1);

    auto input = backends.vibration->create();
    if (!input->open({source, rate, 0}, &error)) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(source), qPrintable(error.reason));
        return 1;
    }
    std::uint64_t samples = 0;
    std::int64_t firstUs = -1, endUs = 0;
    QObject::connect(input.get(), &VibrationInput::blocksReady, [&] {
        for (const VibrationBlock& b : input->takeBlocks()) {
            if (firstUs < 0)
                firstUs = b.firstSampleUs;
            samples += b.samples.size();
            endUs =
                b.firstSampleUs + static_cast<std::int64_t>(b.samples.size()) * 1'000'000 / b.rate;
        }
    });
    const double wall0 = seconds(CLOCK_MONOTONIC);
    const double cpu0 = seconds(CLOCK_PROCESS_CPUTIME_ID);
    QTimer::singleShot(static_cast<int>(runSeconds * 1000), &app, &QCoreApplication::quit);
    app.exec();
    const double cpu =
        (seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu0) / (seconds(CLOCK_MONOTONIC) - wall0);
    auto* routed = static_cast<RoutedVibrationInput*>(input.get());
    const double readRate = static_cast<LptVibrationInput*>(routed->current())->readRate();
    const std::uint64_t lost = input->lostSamples();
    input->close();

    const double spanS = static_cast<double>(endUs - firstUs) / 1e6;
    const double delivered = spanS > 0 ? static_cast<double>(samples + lost) / spanS : 0;
    std::printf("source %s, rates offered:", qPrintable(source));
    for (int r : caps->rates)
        std::printf(" %d", r);
    std::printf(" Hz\nunpaced reads, median: %.0f conversions/s (%.2f us per 55-access read) when "
                "asked, %.0f /s on opening\n",
                askedRate, 2e6 / askedRate, readRate);
    std::printf("grid: %d Hz, %.1f s delivered: %llu samples, %llu lost (%.1f Hz with the lost)\n",
                rate, spanS, static_cast<unsigned long long>(samples),
                static_cast<unsigned long long>(lost), delivered);
    std::printf("process CPU while reading (paced): %.1f %% of a core\n", 100 * cpu);
    bench::summary("TLC549 continuous read on the device model: conversions/s unpaced",
                   "8,000 or more", "%.0f /s", readRate);
    bench::summary("TLC549 vibration source on the device model: grid rate, lost",
                   "8,000 Hz, none lost", "%d Hz, %llu lost", rate,
                   static_cast<unsigned long long>(lost));
    bench::summary("TLC549 vibration source: CPU while reading", "well under a core", "%.0f %%",
                   100 * cpu);
    return 0;
}
