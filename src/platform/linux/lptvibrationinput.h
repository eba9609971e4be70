#pragma once
// The vibration input on the TLC549 converter of a parallel port: sources "lpt:LPT1" and
// "lpt:LPT2", the same converter the parallel-port window reads, read in a loop instead of once a
// timer tick.
//
// A thread per open input repeats the window's read sequence (converterreader.h: two conversions
// per read, 55 port accesses) on a port I/O of its own. Each conversion is stamped with
// CLOCK_MONOTONIC microseconds at the moment the converter samples its input, the eighth falling
// clock edge, which is one pass before its result is shifted out. The stamped samples are put
// onto an even grid (gridresampler.h) at one of lptVibrationRates and delivered in 10 ms blocks
// through a two-second VibrationBuffer.
//
// The reads are paced to about two conversions per grid period, so the thread does not spin a
// core; the first 50 ms run unpaced to measure how fast the port can be read (readRate(): from the
// median read, so that preemption on a busy machine does not count as a slow port). Every read
// waits out the converter's conversion time after the previous one. Capabilities measure the
// same way, for 20 ms, and offer the grid rates up to that: a grid rate is offered when the reads
// reach at least one conversion per grid period.
//
// Samples: codes 0..255 span the converter's 0..5 V reference; code 128 is 0 and a sample of 1.0
// is 128 codes (scale()).
//
// The port is held through PortClaims for as long as the input is open: the parallel-port window
// cannot read it meanwhile, and opening while the window holds it fails as Busy, naming it.

#include "platform/capturedvibrationinput.h"
#include "platform/portclaims.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

namespace diagnostika {

// The grid rates, ascending: whole microseconds per sample, up to what a port read keeps up with.
inline constexpr int lptVibrationRates[] = {1'000, 2'000, 4'000, 8'000};

// The port I/O a reader thread gets to itself: a new PpdevPortIo, or a simulated converter.
using PortIoFactory = std::function<std::unique_ptr<PortIo>()>;

// -1..1 of full scale from a converter code.
inline float lptSampleOf(std::uint8_t code)
{
    return static_cast<float>(code - 128) / 128.0f;
}

class LptVibrationInput final : public CapturedVibrationInput {
    Q_OBJECT
public:
    static constexpr int bufferMs = 2'000;
    static constexpr int blockMs = 10;
    static constexpr int measureMs = 50;
    // The TLC549's longest conversion: it is not selected again sooner after its eighth clock.
    static constexpr int conversionUs = 17;

    LptVibrationInput(PortIoFactory portIo, std::shared_ptr<PortClaims> claims,
                      QObject* parent = nullptr);
    ~LptVibrationInput() override;

    static VibrationScale converterScale() { return VibrationScale{5.0 * 128 / 255, 0.1, true}; }
    // "lpt:LPT1" -> 1, "lpt:LPT2" -> 2, anything else 0.
    static int lptOf(const QString& source);
    static QString sourceId(int lpt) { return QStringLiteral("lpt:LPT%1").arg(lpt); }
    // The name the port is held under while an input reads it.
    static QString holderName(int lpt)
    {
        return QStringLiteral("vstup vibrácií (%1)").arg(sourceId(lpt));
    }

    bool open(const VibrationSettings& settings, VibrationError* error) override;
    void close() override;
    bool isOpen() const override { return thread_.joinable(); }
    VibrationSettings settings() const override { return settings_; }
    VibrationScale scale() const override { return converterScale(); }

    // Conversions per second the open port can be read at, measured unpaced in its first 50 ms; 0
    // until then.
    double readRate() const { return readRate_.load(); }

private:
    void read(); // the reader thread
    void giveBack();

    PortIoFactory makePortIo_;
    std::shared_ptr<PortClaims> claims_;
    std::unique_ptr<PortIo> io_;
    VibrationSettings settings_;
    int lpt_ = 0;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<double> readRate_{0.0};
};

class LptVibrationInputProvider final : public VibrationInputProvider {
public:
    LptVibrationInputProvider(PortIoFactory portIo, std::shared_ptr<PortClaims> claims)
        : makePortIo_(std::move(portIo)), claims_(std::move(claims))
    {
    }
    std::vector<VibrationSource> sources() override;
    std::optional<VibrationCapabilities> capabilities(const QString& source,
                                                      VibrationError* error) override;
    std::unique_ptr<VibrationInput> create() override;

    // Conversions per second `lpt` was read at when last asked about (0 before).
    double readRate(int lpt) const;

private:
    PortIoFactory makePortIo_;
    std::shared_ptr<PortClaims> claims_;
    std::map<int, double> readRates_;
};

// Conversions per second reading the converter at `lpt` through `io` for `ms`, unpaced. Throws
// PortIoError.
double measureLptReadRate(PortIo& io, int lpt, int ms);

} // namespace diagnostika
