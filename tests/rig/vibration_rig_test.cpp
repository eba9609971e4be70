// The ALSA vibration input on the kernel's loopback sound card (snd-aloop), inside the rig's guest
// (see vibration.sh): a player here writes two tones at known levels into the card's playback
// side, and the input reads them back from its capture side.
#include "platform/alsa/alsavibrationinput.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <alsa/asoundlib.h>
#include <atomic>
#include <cmath>
#include <complex>
#include <gtest/gtest.h>
#include <numbers>
#include <thread>

using namespace diagnostika;

namespace {

constexpr int rate = 48'000;
constexpr double twoPi = 2.0 * std::numbers::pi;
struct Tone {
    double hz;
    double level; // peak, of full scale
};
constexpr Tone tones[] = {{1'000.0, 0.5}, {3'150.0, 0.125}};

// Plays the tones on both channels of the loopback's playback side until stopped.
class Player {
public:
    bool start()
    {
        if (snd_pcm_open(&pcm_, "hw:CARD=Loopback,DEV=0", SND_PCM_STREAM_PLAYBACK, 0) < 0)
            return false;
        if (snd_pcm_set_params(pcm_, SND_PCM_FORMAT_S32_LE, SND_PCM_ACCESS_RW_INTERLEAVED, 2, rate,
                               0, 500'000) < 0)
            return false;
        thread_ = std::thread([this] { play(); });
        return true;
    }
    ~Player()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        if (pcm_)
            snd_pcm_close(pcm_);
    }

private:
    void play()
    {
        std::vector<std::int32_t> frames(2 * 480);
        std::int64_t n = 0;
        while (!stop_) {
            for (std::size_t i = 0; i < 480; ++i, ++n) {
                double v = 0.0;
                for (const Tone& t : tones)
                    v += t.level * std::sin(twoPi * t.hz * static_cast<double>(n) / rate);
                frames[2 * i] = frames[2 * i + 1] =
                    static_cast<std::int32_t>(std::lround(v * 2147483647.0));
            }
            // A chunk that did not go out is written again after the recovery: the tones stay
            // continuous, and the underrun is counted (it would put a gap into what is captured).
            std::size_t done = 0;
            while (done < 480 && !stop_) {
                const snd_pcm_sframes_t w =
                    snd_pcm_writei(pcm_, frames.data() + 2 * done, 480 - done);
                if (w >= 0) {
                    done += static_cast<std::size_t>(w);
                    continue;
                }
                ++underruns;
                snd_pcm_recover(pcm_, static_cast<int>(w), 1);
            }
        }
    }

public:
    std::atomic<int> underruns{0};

private:
    snd_pcm_t* pcm_ = nullptr;
    std::thread thread_;
    std::atomic<bool> stop_{false};
};

std::complex<double> dft(const std::vector<float>& x, double hz)
{
    std::complex<double> sum;
    for (std::size_t k = 0; k < x.size(); ++k)
        sum += static_cast<double>(x[k]) *
               std::polar(1.0, -twoPi * hz * static_cast<double>(k) / rate);
    return sum * (2.0 / static_cast<double>(x.size()));
}

TEST(AlsaLoopback, TwoTonesComeBackAtTheirFrequenciesAndLevelsWithNothingLost)
{
    AlsaVibrationInputProvider provider;
    bool listed = false;
    for (const VibrationSource& s : provider.sources())
        listed = listed || s.id == QStringLiteral("hw:CARD=Loopback,DEV=1");
    EXPECT_TRUE(listed) << "the loopback's capture side is listed";

    Player player;
    ASSERT_TRUE(player.start());
    const QString source = QStringLiteral("hw:CARD=Loopback,DEV=1");
    VibrationError error;
    const auto caps = provider.capabilities(source, &error);
    ASSERT_TRUE(caps.has_value()) << error.reason.toStdString();
    EXPECT_EQ(caps->rates, std::vector<int>{rate}) << "the playing side fixes the rate";

    AlsaVibrationInput input;
    ASSERT_TRUE(input.open({source, rate, 1}, &error)) << error.reason.toStdString();
    EXPECT_EQ(input.format(), alsa::SampleFormat::S32_LE);
    std::vector<VibrationBlock> blocks;
    QObject::connect(&input, &VibrationInput::blocksReady, [&] {
        for (auto& b : input.takeBlocks())
            blocks.push_back(std::move(b));
    });
    std::size_t samples = 0;
    QElapsedTimer waited;
    waited.start();
    while (samples < 2 * rate && waited.elapsed() < 60'000) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
        samples = 0;
        for (const auto& b : blocks)
            samples += b.samples.size();
    }
    input.close();
    ASSERT_EQ(player.underruns.load(), 0) << "the player must keep the loopback fed";
    ASSERT_GE(samples, 2u * rate);
    EXPECT_EQ(input.lostSamples(), 0u);
    for (std::size_t i = 1; i < blocks.size(); ++i) {
        const double step =
            static_cast<double>(blocks[i].firstSampleUs - blocks[i - 1].firstSampleUs);
        EXPECT_NEAR(step, static_cast<double>(blocks[i - 1].samples.size()) * 1e6 / rate, 150.0)
            << "block " << i;
    }

    // The last second: whole cycles of both tones, so each sits on its own line.
    std::vector<float> all;
    for (const auto& b : blocks)
        all.insert(all.end(), b.samples.begin(), b.samples.end());
    const std::vector<float> second(all.end() - rate, all.end());
    for (const Tone& t : tones) {
        SCOPED_TRACE(t.hz);
        const double level = std::abs(dft(second, t.hz));
        EXPECT_NEAR(level, t.level, 0.005 * t.level);
        // Its own line is the peak: one line (1 Hz) either side holds next to nothing.
        EXPECT_LT(std::abs(dft(second, t.hz - 1.0)), 0.01 * t.level);
        EXPECT_LT(std::abs(dft(second, t.hz + 1.0)), 0.01 * t.level);
    }
}

} // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
