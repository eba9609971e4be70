#pragma once
// The vibration input on an ALSA capture device: a sound card's line or microphone input, a USB
// audio interface, or the desktop's `default` (PipeWire/PulseAudio through ALSA).
//
// Sources: every card's capture PCMs, each as `hw:CARD=<id>,DEV=<n>` (the device as it is: only
// its own rates, formats and channels) and `plughw:...` (ALSA converts whatever is asked), plus
// `default`. Opening takes one of the offered rates (8 to 96 kHz), the channels up to the chosen
// one, and the finest of S32_LE, FLOAT_LE, S24_3LE, S24_LE and S16_LE the device offers; samples
// are converted to float.
//
// Capture: a thread per open input waits in poll() on the PCM and an eventfd (for closing), reads
// about 10 ms at a time into a VibrationBuffer of two seconds, and wakes the owner through a
// queued call. Stamps come from the device's CLOCK_MONOTONIC timestamps (see capturestamps.h).
// An overrun (-EPIPE) or suspend (-ESTRPIPE) restarts the device and its gap is counted as lost;
// -ENODEV, -EIO, -EBADFD or a disconnected state mean the device is gone: the input closes and
// inputLost is emitted once, after the blocks captured before.

#include "platform/capturedvibrationinput.h"
#include "sampleformat.h"

#include <atomic>
#include <mutex>
#include <thread>

typedef struct _snd_pcm snd_pcm_t;

namespace diagnostika {

class AlsaVibrationInput final : public CapturedVibrationInput {
    Q_OBJECT
public:
    static constexpr int bufferMs = 2'000;
    static constexpr int periodUs = 10'000;
    static constexpr int deviceBufferUs = 250'000;

    explicit AlsaVibrationInput(QObject* parent = nullptr);
    // Stops the capture; nothing more is emitted.
    ~AlsaVibrationInput() override;

    bool open(const VibrationSettings& settings, VibrationError* error) override;
    void close() override;
    bool isOpen() const override { return pcm_ != nullptr; }
    VibrationSettings settings() const override { return settings_; }
    VibrationScale scale() const override { return VibrationScale{}; }
    // The format the open device delivers in.
    alsa::SampleFormat format() const { return format_; }

private:
    void capture(); // the capture thread
    void stopThread();

    snd_pcm_t* pcm_ = nullptr;
    VibrationSettings settings_;
    alsa::SampleFormat format_ = alsa::SampleFormat::S16_LE;
    int channels_ = 1;
    unsigned long periodFrames_ = 0;
    std::thread thread_;
    int stopFd_ = -1; // an eventfd the thread polls beside the PCM
};

class AlsaVibrationInputProvider final : public VibrationInputProvider {
public:
    std::vector<VibrationSource> sources() override;
    std::optional<VibrationCapabilities> capabilities(const QString& source,
                                                      VibrationError* error) override;
    std::unique_ptr<VibrationInput> create() override;
};

} // namespace diagnostika
