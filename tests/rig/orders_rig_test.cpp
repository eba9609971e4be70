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
#include <array>
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
constexpr std::int64_t pulsePeriodNs = 500'000'000; // 2 revolutions a second, 120 min^-1
constexpr double shaftHz = 1e9 / static_cast<double>(pulsePeriodNs);
struct Tone {
    double order;
    double level; // peak, of full scale
};
constexpr Tone tones[] = {{2.0, 0.2}, {3.5, 0.1}};
const QString loopbackCapture = QStringLiteral("hw:CARD=Loopback,DEV=1");

// What the measured figures allow (chosen from the runs in the rig; see docs/rig.md). Under
// emulation the adapter's stamps come milliseconds after the edge, scattered by about as much, and
// the shaft's beat itself is late by as much again when the guest is short of processor time. A
// scatter of sigma in the pulses' moments lowers a tone of f Hz, shown against them, to about
// exp(-(2 pi f sigma)^2 / 2) of its level and blurs it; a slow shaft (2 revolutions a second) keeps
// that small. So a level is held to that expectation from the scatter measured in the same run,
// less what a frame of only 4 pulses loses to the scatter of its own few (up to 7.5 % measured).
// The order: measured 0.007 to 0.04 off, once 0.095 in a run starved of processor time; a line
// is 0.125 order at 8 revolutions, so 0.1 still tells each played order from its neighbours.
constexpr double orderTolerance = 0.1;
constexpr double levelBelow = 0.12; // under the level the scatter leaves, of the level played
constexpr double levelAbove = 0.04; // over the level played
// Away from the played orders the spectrum holds less than this of the weaker tone.
constexpr double floorTolerance = 0.6;

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
        // Both tones (orders 2 and 3.5) repeat every two revolutions: one such stretch, computed
        // once, played over and over (the sines per sample cost more than the emulated guest can
        // spare beside the windows).
        constexpr auto cycle = static_cast<std::size_t>(2 * rate / shaftHz);
        std::vector<std::int32_t> table(2 * cycle);
        for (std::size_t n = 0; n < cycle; ++n) {
            double v = 0.0;
            for (const Tone& t : tones)
                v += t.level * std::sin(twoPi * t.order * shaftHz * static_cast<double>(n) / rate);
            table[2 * n] = table[2 * n + 1] =
                static_cast<std::int32_t>(std::lround(v * 2147483647.0));
        }
        constexpr std::size_t chunk = 480; // divides the cycle
        std::size_t at = 0;
        while (!stop_) {
            const std::int32_t* frames = table.data() + 2 * at;
            at = (at + chunk) % cycle;
            std::size_t done = 0;
            while (done < chunk && !stop_) {
                const snd_pcm_sframes_t w = snd_pcm_writei(pcm_, frames + 2 * done, chunk - done);
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
        firstBeatNs = monotonicNs() + pulsePeriodNs;
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
    std::int64_t firstBeatNs = 0;
    std::array<std::atomic<std::int64_t>, 256> openedNs{}; // when each beat's opening returned

private:
    void turn()
    {
        // Ahead of the windows' threads: a beat the scheduler delays is a shaft that jerks.
        sched_param fifo{};
        fifo.sched_priority = 50;
        ::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &fifo);
        const std::int64_t begin = firstBeatNs;
        for (std::int64_t k = 0; !stop_; ++k) {
            const std::int64_t beat = begin + k * pulsePeriodNs;
            sleepUntilNs(beat);
            const int fd = ::open("/dev/ttyGS0", O_RDWR | O_NOCTTY);
            if (fd < 0) {
                ++failed;
                continue;
            }
            const std::int64_t opened = monotonicNs();
            latestOpenNs = std::max(latestOpenNs.load(), opened - beat);
            if (k < static_cast<std::int64_t>(openedNs.size()))
                openedNs[static_cast<std::size_t>(k)] = opened;
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
    // scale is 1 g), orders 2 and 3.5, frames of 4 revolutions, the spectrum of the last 8.
    QString sourceName;
    for (const VibrationSource& s : vibration.sources())
        if (s.id == loopbackCapture)
            sourceName = s.name;
    ASSERT_FALSE(sourceName.isEmpty()) << "the loopback's capture side is not listed";
    pick(form, "zdroj", sourceName);
    type(form, "citlivost", QStringLiteral("1000"));
    type(form, "rozsah", QStringLiteral("1"));
    type(form, "rady", QStringLiteral("2; 3,5"));
    pick(form, "otackySpektra", QStringLiteral("8 otáčok"));
    pick(form, "rozlisenie", QStringLiteral("1/4 rádu"));
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
    // The first frames, so that the window's first revolutions (started while the tones were
    // already playing) are behind the spectra checked.
    ASSERT_TRUE(runFor(20'000, [&] { return form.shownFrames().size() >= 1; }))
        << "revolutions: " << (form.tracker() ? form.tracker()->revolutionsHeld() : -1)
        << ", pulses made " << shaft.pulses << ", stamps " << stamps.size()
        << ", why: " << form.noSpeedReason().toStdString() << ", breaks "
        << (form.tracker() ? form.tracker()->breaks() : -1) << ", block joins off by "
        << std::sqrt(joinSquares / std::max(joins, 1)) << " us rms, " << worstJoinUs
        << " us at most";

    // Three spectra, each of its own 8 revolutions, as drawn.
    double worstOrder = 0, worstLevel = 0, worstFloor = 0, worstTrack = 0, worstSpeed = 0;
    // Per tone, the lowest and highest level shown, of the level played (spectra and tracks).
    double lowest[std::size(tones)] = {2, 2}, highest[std::size(tones)] = {};
    int spectra = 0;
    for (int spectrum = 0; spectrum < 3; ++spectrum) {
        // A frame every 2 revolutions: 4 more are the next 8.
        const std::size_t from = form.shownFrames().size();
        if (!runFor(8'000, [&] { return form.shownFrames().size() >= from + 4; })) {
            ADD_FAILURE() << "no 8 revolutions more within 8 s";
            break;
        }
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
            const auto i = static_cast<std::size_t>(&t - tones);
            lowest[i] = std::min(lowest[i], peak->amplitude / level);
            highest[i] = std::max(highest[i], peak->amplitude / level);
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
        ++spectra;
        worstSpeed = std::max(worstSpeed, std::abs(frames.back().speed - 60 * shaftHz));
        for (std::size_t i = 0; i < std::size(tones); ++i) {
            const double r =
                frames.back().tracks[i].amplitude / (tones[i].level * vibration::standardGravity);
            worstTrack = std::max(worstTrack, std::abs(r - 1));
            lowest[i] = std::min(lowest[i], r);
            highest[i] = std::max(highest[i], r);
        }
    }
    const QString shownSpeed = control<QLabel>(form2.client(), "otacky")->text();

    // How exact the stamps were: each one's delay after its beat.
    std::vector<double> delays;
    for (const std::int64_t us : stamps) {
        const double sinceUs =
            static_cast<double>(us) - static_cast<double>(shaft.firstBeatNs) / 1e3;
        const double beat = std::round(sinceUs / (pulsePeriodNs / 1e3));
        delays.push_back(sinceUs - beat * (pulsePeriodNs / 1e3));
    }
    double meanDelayUs = 0, spreadUs = 0, worstDelayUs = 0;
    for (const double d : delays)
        meanDelayUs += d / static_cast<double>(std::max<std::size_t>(delays.size(), 1));
    for (const double d : delays) {
        spreadUs += (d - meanDelayUs) * (d - meanDelayUs) /
                    static_cast<double>(std::max<std::size_t>(delays.size(), 1));
        worstDelayUs = std::max(worstDelayUs, d);
    }
    spreadUs = std::sqrt(spreadUs);
    // And after the moment the gadget's end was opened (the edge itself, however late its beat).
    double afterEdgeUs = 0, afterEdgeSquares = 0, worstAfterEdgeUs = 0;
    int matched = 0;
    for (std::size_t i = 0; i < stamps.size(); ++i) {
        const auto k =
            static_cast<std::size_t>(std::llround((static_cast<double>(stamps[i]) - delays[i] -
                                                   static_cast<double>(shaft.firstBeatNs) / 1e3) /
                                                  (pulsePeriodNs / 1e3)));
        if (k >= shaft.openedNs.size() || shaft.openedNs[k].load() == 0)
            continue;
        const double d =
            static_cast<double>(stamps[i]) - static_cast<double>(shaft.openedNs[k].load()) / 1e3;
        afterEdgeUs += d;
        afterEdgeSquares += d * d;
        worstAfterEdgeUs = std::max(worstAfterEdgeUs, d);
        ++matched;
    }
    afterEdgeUs /= std::max(matched, 1);
    const double afterEdgeSpreadUs = std::sqrt(
        std::max(0.0, afterEdgeSquares / std::max(matched, 1) - afterEdgeUs * afterEdgeUs));
    std::printf("[ rig ] sound blocks: %d joins off the count of samples by %.0f us rms, %.0f us "
                "at most; the window's angle signal broke %d times\n",
                joins, std::sqrt(joinSquares / std::max(joins, 1)), worstJoinUs,
                form.tracker()->breaks());
    std::printf("[ rig ] %d pulses in %.1f s (%d openings failed, latest %.0f us after its beat), "
                "%zu timed stamps: %.0f us after the beat on average, %.0f us rms about that, "
                "%.0f us at most\n",
                shaft.pulses.load(),
                static_cast<double>(backends.clock->milliseconds() - startMs) / 1e3,
                shaft.failed.load(), static_cast<double>(shaft.latestOpenNs.load()) / 1e3,
                delays.size(), meanDelayUs, spreadUs, worstDelayUs);
    std::printf("[ rig ] stamps after the gadget's end was opened: %.0f us on average, %.0f us rms "
                "about that, %.0f us at most\n",
                afterEdgeUs, afterEdgeSpreadUs, worstAfterEdgeUs);
    std::printf(
        "[ rig ] worst of 3 spectra: order off by %.4f, level off by %.2f %%, the rest at "
        "most %.2f %% of the weaker tone; tracked amplitude off by %.2f %%; speed off by %.1f "
        "min^-1 (serial window's last count: %s min^-1)\n",
        worstOrder, 100 * worstLevel, 100 * worstFloor, 100 * worstTrack, worstSpeed,
        qPrintable(shownSpeed));

    EXPECT_LE(worstOrder, orderTolerance);
    for (std::size_t i = 0; i < std::size(tones); ++i) {
        const double x = twoPi * tones[i].order * shaftHz * spreadUs * 1e-6;
        const double left = std::exp(-x * x / 2);
        std::printf("[ rig ] order %.1f: shown at %.1f %% to %.1f %% of the level played; the "
                    "stamps' scatter leaves %.1f %%\n",
                    tones[i].order, 100 * lowest[i], 100 * highest[i], 100 * left);
        EXPECT_GE(lowest[i], left - levelBelow) << tones[i].order;
        EXPECT_LE(highest[i], 1 + levelAbove) << tones[i].order;
    }
    EXPECT_LE(worstFloor, floorTolerance);
    EXPECT_EQ(shaft.failed.load(), 0);
    EXPECT_EQ(form.tracker()->breaks(), 0);
    EXPECT_EQ(player.underruns.load(), 0) << "a gap in the tones";
    EXPECT_LE(worstSpeed, 0.01 * 60 * shaftHz);
    EXPECT_TRUE(messages.empty()) << messages.front().toStdString();

    form.close();
    form2.close();
    setInformationPresenter(previous);
    QLocale::setDefault(previousLocale);
}

} // namespace
} // namespace diagnostika
