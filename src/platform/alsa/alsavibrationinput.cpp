#include "alsavibrationinput.h"

#include "capturestamps.h"
#include "platform/linux/devicepermission.h"
#include "platform/tickclock.h"

#include <QRegularExpression>
#include <alsa/asoundlib.h>
#include <cerrno>
#include <poll.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

namespace diagnostika {

namespace {

using alsa::SampleFormat;

snd_pcm_format_t alsaFormat(SampleFormat f)
{
    switch (f) {
    case SampleFormat::S16_LE:
        return SND_PCM_FORMAT_S16_LE;
    case SampleFormat::S24_LE:
        return SND_PCM_FORMAT_S24_LE;
    case SampleFormat::S24_3LE:
        return SND_PCM_FORMAT_S24_3LE;
    case SampleFormat::S32_LE:
        return SND_PCM_FORMAT_S32_LE;
    case SampleFormat::FLOAT_LE:
        return SND_PCM_FORMAT_FLOAT_LE;
    }
    return SND_PCM_FORMAT_UNKNOWN;
}

// The device node behind an `hw:`/`plughw:` source, for a permission message; empty otherwise.
std::string nodeOf(const QString& source)
{
    static const QRegularExpression re(
        QStringLiteral("^(?:plug)?hw:(?:CARD=)?([^,]+)(?:,(?:DEV=)?(\\d+))?"));
    const auto m = re.match(source);
    if (!m.hasMatch())
        return {};
    const int card = snd_card_get_index(m.captured(1).toUtf8().constData());
    if (card < 0)
        return {};
    const int dev = m.captured(2).isEmpty() ? 0 : m.captured(2).toInt();
    return "/dev/snd/pcmC" + std::to_string(card) + "D" + std::to_string(dev) + "c";
}

VibrationError errorFor(const QString& source, int err)
{
    VibrationError e;
    e.device = source;
    e.kind = err == -EBUSY ? VibrationError::Kind::Busy : VibrationError::Kind::Other;
    e.reason = QString::fromLocal8Bit(snd_strerror(err));
    if (linux_sys::isPermissionError(-err)) {
        const std::string node = nodeOf(source);
        if (!node.empty())
            e.reason = QString::fromStdString(linux_sys::permissionReason(
                linux_sys::examineDevice(node, linux_sys::DeviceUse::Read)));
    }
    return e;
}

bool isGone(int err)
{
    return err == -ENODEV || err == -EIO || err == -EBADFD || err == -ENXIO;
}

// Owns a PCM opened for asking; closes it on leaving.
struct PcmHandle {
    snd_pcm_t* pcm = nullptr;
    ~PcmHandle()
    {
        if (pcm)
            snd_pcm_close(pcm);
    }
};

struct HwParams {
    snd_pcm_hw_params_t* p = nullptr;
    HwParams() { snd_pcm_hw_params_malloc(&p); }
    ~HwParams() { snd_pcm_hw_params_free(p); }
};

std::optional<SampleFormat> bestFormat(snd_pcm_t* pcm, snd_pcm_hw_params_t* hw)
{
    for (SampleFormat f : alsa::preferredFormats)
        if (snd_pcm_hw_params_test_format(pcm, hw, alsaFormat(f)) == 0)
            return f;
    return std::nullopt;
}

} // namespace

AlsaVibrationInput::AlsaVibrationInput(QObject* parent) : CapturedVibrationInput(parent) {}

AlsaVibrationInput::~AlsaVibrationInput()
{
    close();
}

bool AlsaVibrationInput::open(const VibrationSettings& settings, VibrationError* error)
{
    close();
    auto fail = [&](int err, QString reason = {}) {
        VibrationError e = errorFor(settings.source, err);
        if (!reason.isEmpty())
            e.reason = reason;
        if (error)
            *error = e;
        if (pcm_)
            snd_pcm_close(pcm_);
        pcm_ = nullptr;
        return false;
    };
    if (settings.rate < minVibrationRate || settings.rate > maxVibrationRate)
        return fail(
            -EINVAL,
            QStringLiteral("vzorkovacia frekvencia %1 Hz je mimo 8 až 96 kHz").arg(settings.rate));
    // Non-blocking, so that a device held by another program fails at once instead of waiting.
    int err = snd_pcm_open(&pcm_, settings.source.toUtf8().constData(), SND_PCM_STREAM_CAPTURE,
                           SND_PCM_NONBLOCK);
    if (err < 0) {
        pcm_ = nullptr;
        return fail(err);
    }
    HwParams hw;
    if ((err = snd_pcm_hw_params_any(pcm_, hw.p)) < 0 ||
        (err = snd_pcm_hw_params_set_access(pcm_, hw.p, SND_PCM_ACCESS_RW_INTERLEAVED)) < 0)
        return fail(err);
    const auto format = bestFormat(pcm_, hw.p);
    if (!format)
        return fail(-EINVAL, QStringLiteral("zariadenie neponúka celočíselné ani float vzorky"));
    format_ = *format;
    snd_pcm_hw_params_set_format(pcm_, hw.p, alsaFormat(format_));
    unsigned minChannels = 0, maxChannels = 0;
    snd_pcm_hw_params_get_channels_min(hw.p, &minChannels);
    snd_pcm_hw_params_get_channels_max(hw.p, &maxChannels);
    const unsigned need = static_cast<unsigned>(settings.channel) + 1;
    if (settings.channel < 0 || need > maxChannels)
        return fail(-EINVAL, QStringLiteral("kanál %1 nie je, zariadenie má kanály 0 až %2")
                                 .arg(settings.channel)
                                 .arg(maxChannels - 1));
    unsigned channels = std::max(need, minChannels);
    if ((err = snd_pcm_hw_params_set_channels_near(pcm_, hw.p, &channels)) < 0)
        return fail(err);
    channels_ = static_cast<int>(channels);
    if (snd_pcm_hw_params_set_rate(pcm_, hw.p, static_cast<unsigned>(settings.rate), 0) < 0)
        return fail(-EINVAL,
                    QStringLiteral("zariadenie neponúka frekvenciu %1 Hz").arg(settings.rate));
    unsigned period = periodUs, bufferTime = deviceBufferUs;
    int dir = 0;
    snd_pcm_hw_params_set_buffer_time_near(pcm_, hw.p, &bufferTime, &dir);
    snd_pcm_hw_params_set_period_time_near(pcm_, hw.p, &period, &dir);
    if ((err = snd_pcm_hw_params(pcm_, hw.p)) < 0)
        return fail(err);
    snd_pcm_uframes_t periodFrames = 0;
    snd_pcm_hw_params_get_period_size(hw.p, &periodFrames, &dir);
    periodFrames_ = std::max<snd_pcm_uframes_t>(periodFrames, 16);

    snd_pcm_sw_params_t* sw = nullptr;
    snd_pcm_sw_params_alloca(&sw);
    if ((err = snd_pcm_sw_params_current(pcm_, sw)) < 0)
        return fail(err);
    // The device's timestamps on CLOCK_MONOTONIC: the scale of the serial lines' stamps.
    snd_pcm_sw_params_set_tstamp_mode(pcm_, sw, SND_PCM_TSTAMP_ENABLE);
    snd_pcm_sw_params_set_tstamp_type(pcm_, sw, SND_PCM_TSTAMP_TYPE_MONOTONIC);
    snd_pcm_sw_params_set_avail_min(pcm_, sw, periodFrames_);
    if ((err = snd_pcm_sw_params(pcm_, sw)) < 0 || (err = snd_pcm_prepare(pcm_)) < 0 ||
        (err = snd_pcm_start(pcm_)) < 0)
        return fail(err);

    settings_ = settings;
    startBuffer(static_cast<std::size_t>(settings.rate) * bufferMs / 1000);
    stopFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    thread_ = std::thread([this] { capture(); });
    return true;
}

void AlsaVibrationInput::stopThread()
{
    if (thread_.joinable()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto n = ::write(stopFd_, &one, sizeof one);
        thread_.join();
    }
    if (stopFd_ >= 0)
        ::close(stopFd_);
    stopFd_ = -1;
}

void AlsaVibrationInput::close()
{
    stopThread();
    if (pcm_)
        snd_pcm_close(pcm_);
    pcm_ = nullptr;
}

void AlsaVibrationInput::capture()
{
    const int rate = settings_.rate;
    const std::size_t frameBytes =
        alsa::bytesPerSample(format_) * static_cast<std::size_t>(channels_);
    std::vector<std::byte> raw(periodFrames_ * frameBytes);
    alsa::CaptureStamps stamps(rate);
    bool overran = false;
    const int count = snd_pcm_poll_descriptors_count(pcm_);
    std::vector<pollfd> fds(static_cast<std::size_t>(std::max(count, 0)) + 1);
    fds[0] = pollfd{stopFd_, POLLIN, 0};
    auto gone = [&](int err) {
        reportLoss(VibrationError{VibrationError::Kind::Gone, settings_.source,
                                  QString::fromLocal8Bit(snd_strerror(err))});
    };
    // An overrun or a suspend: start again, and let the next block's stamp tell what was lost.
    auto restart = [&](int err) {
        if (err == -ESTRPIPE) {
            int r;
            while ((r = snd_pcm_resume(pcm_)) == -EAGAIN)
                ::usleep(10'000);
            if (r == 0) {
                overran = true;
                return 0;
            }
        }
        int r = snd_pcm_prepare(pcm_);
        if (r == 0)
            r = snd_pcm_start(pcm_);
        overran = true;
        return r;
    };
    for (;;) {
        snd_pcm_poll_descriptors(pcm_, fds.data() + 1, static_cast<unsigned>(count));
        if (::poll(fds.data(), fds.size(), 1000) < 0 && errno != EINTR)
            return gone(-errno);
        if (fds[0].revents & POLLIN)
            return;
        unsigned short revents = 0;
        snd_pcm_poll_descriptors_revents(pcm_, fds.data() + 1, static_cast<unsigned>(count),
                                         &revents);
        const snd_pcm_state_t state = snd_pcm_state(pcm_);
        if (state == SND_PCM_STATE_DISCONNECTED)
            return gone(-ENODEV);
        if (state == SND_PCM_STATE_XRUN || state == SND_PCM_STATE_SUSPENDED) {
            const int r = restart(state == SND_PCM_STATE_XRUN ? -EPIPE : -ESTRPIPE);
            if (r < 0)
                return gone(r);
            continue;
        }
        for (;;) { // read what is there, a period at a time
            snd_pcm_uframes_t avail = 0;
            snd_htimestamp_t ts{};
            const bool stamped = snd_pcm_htimestamp(pcm_, &avail, &ts) == 0;
            const double nowUs = monotonicMicroseconds();
            const double stampUs =
                static_cast<double>(ts.tv_sec) * 1e6 + static_cast<double>(ts.tv_nsec) * 1e-3;
            // Some plugins give no stamp, or one on another clock: only a stamp of the last second
            // on ours is the device's.
            const bool timed = stamped && stampUs <= nowUs && nowUs - stampUs < 1e6;
            const snd_pcm_sframes_t n = snd_pcm_readi(pcm_, raw.data(), periodFrames_);
            if (n == -EAGAIN)
                break;
            if (n == -EPIPE || n == -ESTRPIPE) {
                const int r = restart(static_cast<int>(n));
                if (r < 0)
                    return gone(r);
                break;
            }
            if (n < 0) {
                if (isGone(static_cast<int>(n)))
                    return gone(static_cast<int>(n));
                break;
            }
            if (n == 0)
                break;
            // The first frame read was `avail` frames behind the newest at the device's stamp.
            // Without a stamp (some plugins), the frames left after the read say the same from now.
            double measuredUs = 0;
            if (timed) {
                measuredUs = stampUs - static_cast<double>(avail) * 1e6 / rate;
            } else {
                const snd_pcm_sframes_t left = std::max<snd_pcm_sframes_t>(snd_pcm_avail(pcm_), 0);
                measuredUs = nowUs - static_cast<double>(left + n) * 1e6 / rate;
            }
            const alsa::CaptureStamps::Block stamp =
                stamps.next(static_cast<std::size_t>(n), measuredUs, overran);
            overran = false;
            if (stamp.lostBefore > 0)
                buffer_->addLost(stamp.lostBefore);
            VibrationBlock block;
            block.rate = rate;
            block.firstSampleUs = stamp.firstSampleUs;
            block.samples.resize(static_cast<std::size_t>(n));
            alsa::toFloat(raw.data(), format_, channels_, settings_.channel,
                          static_cast<std::size_t>(n), block.samples.data());
            if (buffer_->push(std::move(block)))
                wakeOwner();
        }
    }
}

std::vector<VibrationSource> AlsaVibrationInputProvider::sources()
{
    std::vector<VibrationSource> list;
    list.push_back({QStringLiteral("default"), QStringLiteral("Predvolený zvukový vstup systému")});
    int card = -1;
    while (snd_card_next(&card) == 0 && card >= 0) {
        snd_ctl_t* ctl = nullptr;
        if (snd_ctl_open(&ctl, ("hw:" + std::to_string(card)).c_str(), 0) < 0)
            continue;
        snd_ctl_card_info_t* cardInfo = nullptr;
        snd_ctl_card_info_alloca(&cardInfo);
        snd_pcm_info_t* pcmInfo = nullptr;
        snd_pcm_info_alloca(&pcmInfo);
        if (snd_ctl_card_info(ctl, cardInfo) == 0) {
            const QString id = QString::fromUtf8(snd_ctl_card_info_get_id(cardInfo));
            const QString cardName = QString::fromUtf8(snd_ctl_card_info_get_name(cardInfo));
            int dev = -1;
            while (snd_ctl_pcm_next_device(ctl, &dev) == 0 && dev >= 0) {
                snd_pcm_info_set_device(pcmInfo, static_cast<unsigned>(dev));
                snd_pcm_info_set_subdevice(pcmInfo, 0);
                snd_pcm_info_set_stream(pcmInfo, SND_PCM_STREAM_CAPTURE);
                if (snd_ctl_pcm_info(ctl, pcmInfo) < 0)
                    continue; // no capture on this device
                // The device's number too: a card's devices may share one name (the loopback
                // card's all read "Loopback PCM"), and the user must tell them apart.
                const QString name =
                    QStringLiteral("%1: %2, zariadenie %3")
                        .arg(cardName, QString::fromUtf8(snd_pcm_info_get_name(pcmInfo)))
                        .arg(dev);
                const QString where = QStringLiteral("CARD=%1,DEV=%2").arg(id).arg(dev);
                list.push_back({QStringLiteral("hw:") + where,
                                name + QStringLiteral(" (priamo zo zariadenia)")});
                list.push_back({QStringLiteral("plughw:") + where,
                                name + QStringLiteral(" (s prevodom formátu a frekvencie)")});
            }
        }
        snd_ctl_close(ctl);
    }
    return list;
}

std::optional<VibrationCapabilities> AlsaVibrationInputProvider::capabilities(const QString& source,
                                                                              VibrationError* error)
{
    PcmHandle h;
    HwParams hw;
    int err =
        snd_pcm_open(&h.pcm, source.toUtf8().constData(), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK);
    if (err >= 0)
        err = snd_pcm_hw_params_any(h.pcm, hw.p);
    if (err >= 0)
        err = snd_pcm_hw_params_set_access(h.pcm, hw.p, SND_PCM_ACCESS_RW_INTERLEAVED);
    if (err < 0) {
        if (error)
            *error = errorFor(source, err);
        return std::nullopt;
    }
    VibrationCapabilities c;
    for (int rate : commonVibrationRates)
        if (snd_pcm_hw_params_test_rate(h.pcm, hw.p, static_cast<unsigned>(rate), 0) == 0)
            c.rates.push_back(rate);
    unsigned channels = 0;
    snd_pcm_hw_params_get_channels_max(hw.p, &channels);
    // Plugins offer "any number"; the input takes one channel, so a few are plenty to list.
    c.channels = static_cast<int>(std::min(channels, 32u));
    if (const auto f = bestFormat(h.pcm, hw.p))
        c.format = QString::fromLatin1(alsa::formatName(*f));
    return c;
}

std::unique_ptr<VibrationInput> AlsaVibrationInputProvider::create()
{
    return std::make_unique<AlsaVibrationInput>();
}

} // namespace diagnostika
