// The order window on real drivers, inside the rig's guest (see orders.sh). The shaft is a cdc-acm
// adapter whose gadget end is opened on a steady beat, one pulse per revolution on DCD, read by
// the serial window with its port and inputs picked as a user picks them. The accelerometer is the
// loopback sound card: tones at known orders of that beat are played into its playback side and the
// order window, on the serial window's speed input and the shared vibration input as the main
// window opens it, captures them through the ALSA input. Both beats run on CLOCK_MONOTONIC (the
// loopback's sample clock is the kernel's timer), so the orders played are the orders to be seen.
#include "com/form2.h"
#include "common/messages.h"
#include "orders/orderform.h"
#include "platform/backends.h"
#include "platform/sharedvibration.h"
#include "support/widgets.h"
#include "trend/plotlibrary.h"
#include "vibration/analysis/scaling.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QTest>
#include <QTimer>
#include <alsa/asoundlib.h>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <ctime>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <numbers>
#include <thread>
#include <unistd.h>

namespace diagnostika {
namespace {

using test::control;

constexpr int rate = 48'000;
constexpr double twoPi = 2.0 * std::numbers::pi;
constexpr std::int64_t pulsePeriodNs = 40'000'000; // 25 revolutions a second, 1500 min^-1
constexpr double shaftHz = 1e9 / static_cast<double>(pulsePeriodNs);
struct Tone {
    double order;
    double level; // peak, of full scale
};
constexpr Tone tones[] = {{2.0, 0.2}, {3.5, 0.1}};
const QString loopbackCapture = QStringLiteral("hw:CARD=Loopback,DEV=1");

// What the measured figures allow (chosen from the runs in the rig; see docs/rig.md): the pulses'
// stamps through dummy_hcd and cdc-acm are late by up to a millisecond or so, which blurs the
// orders a little and takes some of their height.
constexpr double orderTolerance = 0.02;
constexpr double levelTolerance = 0.04; // of the level played
// Between the played orders the spectrum holds no more than this of the weaker tone.
constexpr double floorTolerance = 0.1;

// Plays the tones, at their frequencies on the shaft's beat, into the loopback until stopped.
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
    std::atomic<int> underruns{0};

private:
    void play()
    {
        constexpr std::size_t chunk = 480;
        std::vector<std::int32_t> frames(2 * chunk);
        std::int64_t n = 0;
        while (!stop_) {
            for (std::size_t i = 0; i < chunk; ++i, ++n) {
                double v = 0.0;
                for (const Tone& t : tones)
                    v += t.level *
                         std::sin(twoPi * t.order * shaftHz * static_cast<double>(n) / rate);
                frames[2 * i] = frames[2 * i + 1] =
                    static_cast<std::int32_t>(std::lround(v * 2147483647.0));
            }
            std::size_t done = 0;
            while (done < chunk && !stop_) {
                const snd_pcm_sframes_t w =
                    snd_pcm_writei(pcm_, frames.data() + 2 * done, chunk - done);
                if (w >= 0) {
                    done += static_cast<std::size_t>(w);
                    continue;
                }
                ++underruns;
                snd_pcm_recover(pcm_, static_cast<int>(w), 1);
            }
        }
    }
    snd_pcm_t* pcm_ = nullptr;
    std::thread thread_;
    std::atomic<bool> stop_{false};
};

std::int64_t monotonicNs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
}

void sleepUntilNs(std::int64_t ns)
{
    const timespec at{static_cast<time_t>(ns / 1'000'000'000),
                      static_cast<long>(ns % 1'000'000'000)};
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
    }
}

// The shaft: the gadget's end opened (DSR and DCD up) at every beat of pulsePeriodNs from the
// start, closed a quarter period later. Keeps how late each opening was after its beat.
class Shaft {
public:
    void start()
    {
        thread_ = std::thread([this] { turn(); });
    }
    ~Shaft()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }
    std::atomic<int> pulses{0};
    std::atomic<int> failed{0};
    std::atomic<std::int64_t> latestOpenNs{0};

private:
    void turn()
    {
        const std::int64_t begin = monotonicNs() + pulsePeriodNs;
        for (std::int64_t k = 0; !stop_; ++k) {
            const std::int64_t beat = begin + k * pulsePeriodNs;
            sleepUntilNs(beat);
            const int fd = ::open("/dev/ttyGS0", O_RDWR | O_NOCTTY);
            if (fd < 0) {
                ++failed;
                continue;
            }
            latestOpenNs = std::max(latestOpenNs.load(), monotonicNs() - beat);
            sleepUntilNs(beat + pulsePeriodNs / 4);
            ::close(fd);
            ++pulses;
        }
    }
    std::thread thread_;
    std::atomic<bool> stop_{false};
};

void pick(MeasurementForm& form, const char* list, const QString& item)
{
    auto* combo = control<QComboBox>(form.client(), list);
    ASSERT_NE(combo, nullptr) << list;
    const int index = combo->findText(item);
    ASSERT_GE(index, 0) << list << ": " << item.toStdString();
    combo->setCurrentIndex(index);
    Q_EMIT combo->activated(index);
}

void type(MeasurementForm& form, const char* entry, const QString& text)
{
    auto* e = control<QLineEdit>(form.client(), entry);
    ASSERT_NE(e, nullptr) << entry;
    e->setText(text);
    Q_EMIT e->editingFinished();
}

TEST(OrdersRig, LoopbackTonesShowAtTheirOrdersOfTheAdaptersPulses)
{
    const QLocale previousLocale;
    QLocale::setDefault(QLocale(QLocale::Slovak, QLocale::Slovakia));
    std::vector<QString> messages;
    const InformationPresenter previous =
        setInformationPresenter([&](QWidget*, const QString&, const QString& text, const QString&) {
            messages.push_back(text);
        });

    // The program's own backends, COM1 on the adapter as `--com1 /dev/ttyACM0` gives it.
    BackendOptions options;
    options.comDevices[1] = QStringLiteral("/dev/ttyACM0");
    Backends backends = makeBackends(options);
    SharedVibrationInputProvider vibration(*backends.vibration);

    Player player;
    ASSERT_TRUE(player.start()) << "the loopback's playback side";

    QMdiArea area;
    area.resize(1200, 900);
    area.show();
    Form2 form2(*backends.serial, *backends.clock);
    form2.show(&area);
    OrderForm form(vibration, *form2.speedInput());
    form.show(&area);
    for (MeasurementForm* f :
         {static_cast<MeasurementForm*>(&form2), static_cast<MeasurementForm*>(&form)})
        for (QTimer* timer : f->client()->findChildren<QTimer*>())
            timer->stop();

    // The serial window: one pulse a revolution on CD, counted each second, on COM1.
    pick(form2, "vstup", QStringLiteral("CD"));
    pick(form2, "snimace", QStringLiteral("1"));
    pick(form2, "interval", QStringLiteral("1s"));
    pick(form2, "port", QStringLiteral("COM1"));
    // The order window: the loopback's capture side, a sensor of 1000 mV/g on a 1 V range (full
    // scale is 1 g), orders 2 and 3.5.
    QString sourceName;
    for (const VibrationSource& s : vibration.sources())
        if (s.id == loopbackCapture)
            sourceName = s.name;
    ASSERT_FALSE(sourceName.isEmpty()) << "the loopback's capture side is not listed";
    pick(form, "zdroj", sourceName);
    type(form, "citlivost", QStringLiteral("1000"));
    type(form, "rozsah", QStringLiteral("1"));
    type(form, "rady", QStringLiteral("2; 3,5"));
    ASSERT_EQ(form.trackedOrders(), (std::vector<double>{2, 3.5}));
    ASSERT_TRUE(messages.empty()) << messages.front().toStdString();

    // The stamps the order window is given, to say how exact the driver's are.
    std::vector<std::int64_t> stamps;
    QObject::connect(form2.speedInput(), &SpeedInput::edge, [&stamps](const LineEvent& e) {
        if (e.level && e.timed)
            stamps.push_back(e.stampUs);
    });

    // A second reader of the same capture, as the vibration window would be: how far each block's
    // stamp lies from where the one before it ended.
    std::unique_ptr<VibrationInput> beside = vibration.create();
    VibrationError error;
    ASSERT_TRUE(beside->open({loopbackCapture, rate, 0}, &error)) << error.reason.toStdString();
    double blockEndUs = 0, worstJoinUs = 0, joinSquares = 0;
    int joins = 0;
    QObject::connect(beside.get(), &VibrationInput::blocksReady, [&] {
        for (const VibrationBlock& b : beside->takeBlocks()) {
            if (blockEndUs > 0) {
                const double d = static_cast<double>(b.firstSampleUs) - blockEndUs;
                worstJoinUs = std::max(worstJoinUs, std::abs(d));
                joinSquares += d * d;
                ++joins;
            }
            blockEndUs = b.sampleUs(b.samples.size());
        }
    });

    Shaft shaft;
    shaft.start();
    // The windows' timers, fired by hand on their periods while the events run: the order window
    // every refreshMs, the serial window's count every second.
    const std::int64_t startMs = backends.clock->milliseconds();
    std::int64_t nextCountMs = startMs + 1'000;
    const auto runFor = [&](std::int64_t ms, const auto& until) {
        const std::int64_t end = backends.clock->milliseconds() + ms;
        while (backends.clock->milliseconds() < end && !until()) {
            QTest::qWait(OrderForm::refreshMs);
            form.refresh();
            if (backends.clock->milliseconds() >= nextCountMs) {
                form2.Timer1_Timer();
                nextCountMs += 1'000;
            }
        }
        return until();
    };
    // 32 revolutions make the spectrum; a few more first, so that the window's first revolutions
    // (started while the tones were already playing) are behind it.
    ASSERT_TRUE(
        runFor(20'000, [&] { return form.tracker() && form.tracker()->revolutionsHeld() >= 40; }))
        << "revolutions: " << (form.tracker() ? form.tracker()->revolutionsHeld() : -1)
        << ", pulses made " << shaft.pulses << ", stamps " << stamps.size()
        << ", why: " << form.noSpeedReason().toStdString() << ", breaks "
        << (form.tracker() ? form.tracker()->breaks() : -1) << ", block joins off by "
        << std::sqrt(joinSquares / std::max(joins, 1)) << " us rms, " << worstJoinUs
        << " us at most";

    // Three spectra, each of its own 32 revolutions, as drawn.
    double worstOrder = 0, worstLevel = 0, worstFloor = 0, worstTrack = 0;
    for (int spectrum = 0; spectrum < 3; ++spectrum) {
        const int from = form.tracker()->revolutionsHeld();
        ASSERT_TRUE(runFor(5'000, [&] { return form.tracker()->revolutionsHeld() >= from + 32; }));
        form.draw();
        ASSERT_TRUE(form.noSpeedReason().isEmpty()) << form.noSpeedReason().toStdString();
        const QString said = control<QLabel>(form.client(), "stav")->text();
        EXPECT_FALSE(said.contains(QStringLiteral("Otáčky")) ||
                     said.contains(QStringLiteral("mpulz")))
            << said.toStdString();
        ASSERT_GT(form.spectrumChart()->graph(0)->dataCount(), 0);
        const orders::OrderSpectrum& shown = form.orderSpectrum();
        for (const Tone& t : tones) {
            const std::optional<orders::OrderPoint> peak = orders::peakNear(shown, t.order);
            ASSERT_TRUE(peak.has_value());
            const double level = t.level * vibration::standardGravity;
            worstOrder = std::max(worstOrder, std::abs(peak->order - t.order));
            worstLevel = std::max(worstLevel, std::abs(peak->amplitude / level - 1));
            std::printf("[ rig ] spectrum %d: order %.2f seen at %.4f, %.4f m/s^2 (played %.4f)\n",
                        spectrum + 1, t.order, peak->order, peak->amplitude, level);
        }
        // Nothing else stands out between and around them (0.5 to 10, off the played orders).
        for (std::size_t k = 0; k < shown.amplitude.size(); ++k) {
            const double o = shown.order(k);
            if (o < 0.5 || o > 10 || std::ranges::any_of(tones, [o](const Tone& t) {
                    return std::abs(o - t.order) < 0.3;
                }))
                continue;
            worstFloor = std::max(worstFloor, shown.amplitude[k] /
                                                  (tones[1].level * vibration::standardGravity));
        }
        // The tracked orders of the latest frame, as the Bode plot shows them.
        const std::vector<orders::OrderFrame>& frames = form.shownFrames();
        ASSERT_FALSE(frames.empty());
        for (std::size_t i = 0; i < std::size(tones); ++i)
            worstTrack =
                std::max(worstTrack, std::abs(frames.back().tracks[i].amplitude /
                                                  (tones[i].level * vibration::standardGravity) -
                                              1));
    }
    const QString shownSpeed = control<QLabel>(form2.client(), "otacky")->text();

    // How exact the stamps were: each interval against the beat.
    double worstJitterUs = 0, sumSquares = 0;
    for (std::size_t i = 1; i < stamps.size(); ++i) {
        const double off = static_cast<double>(stamps[i] - stamps[i - 1]) - pulsePeriodNs / 1e3;
        worstJitterUs = std::max(worstJitterUs, std::abs(off));
        sumSquares += off * off;
    }
    const double rmsJitterUs =
        stamps.size() > 1 ? std::sqrt(sumSquares / static_cast<double>(stamps.size() - 1)) : 0;
    std::printf("[ rig ] sound blocks: %d joins off the count of samples by %.0f us rms, %.0f us "
                "at most; the window's angle signal broke %d times\n",
                joins, std::sqrt(joinSquares / std::max(joins, 1)), worstJoinUs,
                form.tracker()->breaks());
    std::printf("[ rig ] %d pulses in %.1f s (%d openings failed, latest %.0f us after its beat); "
                "interval between stamps off the %.0f us beat by %.0f us rms, %.0f us at most\n",
                shaft.pulses.load(),
                static_cast<double>(backends.clock->milliseconds() - startMs) / 1e3,
                shaft.failed.load(), static_cast<double>(shaft.latestOpenNs.load()) / 1e3,
                pulsePeriodNs / 1e3, rmsJitterUs, worstJitterUs);
    std::printf("[ rig ] worst of 3 spectra: order off by %.4f, level off by %.2f %%, the rest at "
                "most %.2f %% of the weaker tone; tracked amplitude off by %.2f %%; serial window "
                "shows %s min^-1\n",
                worstOrder, 100 * worstLevel, 100 * worstFloor, 100 * worstTrack,
                qPrintable(shownSpeed));

    EXPECT_LE(worstOrder, orderTolerance);
    EXPECT_LE(worstLevel, levelTolerance);
    EXPECT_LE(worstTrack, levelTolerance);
    EXPECT_LE(worstFloor, floorTolerance);
    EXPECT_EQ(shaft.failed.load(), 0);
    EXPECT_EQ(form.tracker()->breaks(), 0);
    EXPECT_EQ(player.underruns.load(), 0) << "a gap in the tones";
    // A second's count of a steady 25 a second, give or take the one at the period's edge.
    bool isNumber = false;
    const double speed = QLocale().toDouble(shownSpeed, &isNumber);
    EXPECT_TRUE(isNumber) << shownSpeed.toStdString();
    EXPECT_NEAR(speed, 60 * shaftHz, 60);
    EXPECT_TRUE(messages.empty()) << messages.front().toStdString();

    form.close();
    form2.close();
    setInformationPresenter(previous);
    QLocale::setDefault(previousLocale);
}

} // namespace
} // namespace diagnostika
