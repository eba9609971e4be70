// Which FFT library the vibration spectra use: FFTW 3 and KissFFT side by side on the
// real-to-complex transform of every spectrum size (1,024 to 65,536 points), single precision as
// the samples come. Prints, per size, the time per transform of each and the time FFTW takes to
// make its plans, both the measured kind (FFTW_MEASURE tries several) and the estimated kind
// (FFTW_ESTIMATE guesses).
//   build/bench/vibration/vibration_fft_choice [seconds per measurement]

#include "benchsupport.h"

#include <chrono>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <fftw3.h>
#include <kiss_fftr.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Runs `transform` repeatedly for about `budget` seconds (best of three rounds); microseconds each.
template <typename F> double microsecondsPer(F&& transform, double budget)
{
    transform(); // warm the caches and the twiddle tables
    double best = 1e30;
    for (int round = 0; round < 3; ++round) {
        const auto start = Clock::now();
        long count = 0;
        do {
            transform();
            ++count;
        } while (secondsSince(start) < budget / 3);
        best = std::min(best, secondsSince(start) / static_cast<double>(count) * 1e6);
    }
    return best;
}

struct Row {
    int n;
    double fftwMeasure, fftwEstimate, kiss, planMs, estimatePlanMs;
};

} // namespace

int main(int argc, char** argv)
{
    const double budget = argc > 1 ? std::atof(argv[1]) : 0.6;
    std::printf("%8s %16s %16s %12s %12s %12s %10s\n", "points", "FFTW measure us",
                "FFTW estimate us", "KissFFT us", "plan meas ms", "plan est ms", "Kiss/FFTW");
    std::vector<Row> rows;
    for (int n = 1024; n <= 65536; n *= 2) {
        float* in = fftwf_alloc_real(static_cast<std::size_t>(n));
        fftwf_complex* out = fftwf_alloc_complex(static_cast<std::size_t>(n / 2 + 1));
        std::vector<float> signal(static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i)
            signal[static_cast<std::size_t>(i)] =
                static_cast<float>(std::sin(0.01 * i) + 0.3 * std::sin(1.7 * i));

        // The estimated plan first: a measured plan leaves wisdom that later plans of its size
        // reuse.
        auto start = Clock::now();
        fftwf_plan estimated = fftwf_plan_dft_r2c_1d(n, in, out, FFTW_ESTIMATE);
        const double estimatePlanMs = secondsSince(start) * 1e3;
        start = Clock::now();
        fftwf_plan measured = fftwf_plan_dft_r2c_1d(n, in, out, FFTW_MEASURE);
        const double planMs = secondsSince(start) * 1e3;
        std::copy(signal.begin(), signal.end(), in);
        const double fftwMeasure = microsecondsPer([&] { fftwf_execute(measured); }, budget);
        const double fftwEstimate = microsecondsPer([&] { fftwf_execute(estimated); }, budget);
        fftwf_destroy_plan(measured);
        fftwf_destroy_plan(estimated);

        kiss_fftr_cfg kiss = kiss_fftr_alloc(n, 0, nullptr, nullptr);
        std::vector<kiss_fft_cpx> kissOut(static_cast<std::size_t>(n / 2 + 1));
        const double kissUs =
            microsecondsPer([&] { kiss_fftr(kiss, signal.data(), kissOut.data()); }, budget);
        kiss_fftr_free(kiss);
        fftwf_free(in);
        fftwf_free(out);

        rows.push_back({n, fftwMeasure, fftwEstimate, kissUs, planMs, estimatePlanMs});
        std::printf("%8d %16.1f %16.1f %12.1f %12.1f %12.2f %10.2f\n", n, fftwMeasure, fftwEstimate,
                    kissUs, planMs, estimatePlanMs, kissUs / fftwEstimate);
        std::fflush(stdout);
    }
    for (const Row& r : rows) {
        if (r.n != 1024 && r.n != 8192 && r.n != 65536)
            continue;
        char measure[80];
        std::snprintf(measure, sizeof measure, "vibration FFT, %d points: FFTW / KissFFT", r.n);
        diagnostika::bench::summary(measure, "the faster one behind RealFft", "%.1f us / %.1f us",
                                    r.fftwEstimate, r.kiss);
    }
    return 0;
}
