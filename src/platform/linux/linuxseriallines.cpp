#include "linuxseriallines.h"

#include "devicepermission.h"
#include "platform/devicepath.h"

#include <QFile>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <linux/serial.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <system_error>
#include <termios.h>
#include <unistd.h>

namespace diagnostika {

namespace {

// The signal that breaks the watcher out of TIOCMIWAIT. A real-time signal well above the ones
// libraries commonly take; its handler does nothing, and it is installed without SA_RESTART so that
// the wait returns EINTR instead of being restarted.
int wakeSignal()
{
    return SIGRTMIN + 5;
}

void onWakeSignal(int) {}

// The tick clock's scale, in whole microseconds, as edges are stamped.
std::int64_t wholeMicroseconds()
{
    return static_cast<std::int64_t>(monotonicMicroseconds());
}

void installWakeHandler()
{
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction sa {};
        sa.sa_handler = onWakeSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = 0;
        ::sigaction(wakeSignal(), &sa, nullptr);
    });
}

bool deviceGone(int err)
{
    return err == EIO || err == ENODEV || err == ENXIO;
}

bool notSupported(int err)
{
    return err == ENOTTY || err == EINVAL || err == ENOSYS || err == EOPNOTSUPP;
}

QString reasonOf(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

// Reads counters and levels. Levels are kept only together with counters that stood still around
// the level read, so that both describe the same moment; a few retries settle that even while the
// lines move fast. Returns 0, or the errno of a failed read.
int readSample(int fd, CaptureProbe& probe, bool& haveLevels, LineSample& out)
{
    auto readCounts = [&](std::optional<std::array<std::uint32_t, lineCount>>& counts) {
        counts.reset();
        if (!probe.useCounters())
            return 0;
        serial_icounter_struct ic{};
        if (::ioctl(fd, TIOCGICOUNT, &ic) == 0) {
            counts = std::array<std::uint32_t, lineCount>{static_cast<std::uint32_t>(ic.cts),
                                                          static_cast<std::uint32_t>(ic.dsr),
                                                          static_cast<std::uint32_t>(ic.dcd)};
            return 0;
        }
        if (notSupported(errno)) {
            probe.countersRefused();
            return 0;
        }
        return errno;
    };

    for (int attempt = 0;; ++attempt) {
        std::optional<std::array<std::uint32_t, lineCount>> before;
        if (const int err = readCounts(before))
            return err;
        // Asked even of a driver that has no levels: it is how a hung-up or vanished device
        // shows (EIO) when nothing else is read.
        int bits = 0;
        if (::ioctl(fd, TIOCMGET, &bits) != 0) {
            if (!notSupported(errno))
                return errno;
            haveLevels = false;
        }
        if (!haveLevels)
            bits = 0;
        out.levels = {(bits & TIOCM_CTS) != 0, (bits & TIOCM_DSR) != 0, (bits & TIOCM_CD) != 0};
        if (!before) {
            out.counts.reset();
            return 0;
        }
        std::optional<std::array<std::uint32_t, lineCount>> after;
        if (const int err = readCounts(after))
            return err;
        out.counts = after;
        if (!after || *after == *before || attempt >= 3)
            return 0;
    }
}

} // namespace

LinuxSerialLines::LinuxSerialLines(const TickClock& clock, LinuxSerialOptions options,
                                   QObject* parent)
    : SerialLines(parent), clock_(clock), options_(std::move(options)),
      lock_(options_.lockDirectories), queue_(
                                           this, [this](const LineEvent& e) { deliverEdge(e); },
                                           [this](const SerialError& e) { deliverLoss(e); })
{
    installWakeHandler();
}

LinuxSerialLines::~LinuxSerialLines()
{
    stopWatcher();
    queue_.clear();
    releaseDevice();
}

QString comDevicePath(const LinuxSerialOptions& options, int commPort)
{
    const auto it = options.comDevices.find(commPort);
    if (it != options.comDevices.end())
        return it->second;
    if (commPort < 1)
        return {};
    return QStringLiteral("/dev/ttyS%1").arg(commPort - 1);
}

QString LinuxSerialLines::devicePath(int commPort) const
{
    return comDevicePath(options_, commPort);
}

bool LinuxSerialLines::open(int commPort, SerialError* error)
{
    // Closing hands over what was still queued, and a handler of that may itself open a port.
    while (isOpen())
        close();

    SerialError e;
    e.commPort = commPort;
    e.device = devicePath(commPort);
    auto fail = [&](SerialError::Kind kind, const QString& reason) {
        e.kind = kind;
        e.reason = reason;
        if (error)
            *error = e;
        lock_.release();
        return false;
    };
    if (e.device.isEmpty())
        return fail(SerialError::Kind::Other,
                    QStringLiteral("pre COM%1 nie je určené zariadenie").arg(commPort));

    // A lock that cannot be written (no lock directory, a full disk) does not stop the
    // measurement: TIOCEXCL below still keeps other programs out.
    QString lockReason;
    if (lock_.acquire(e.device, nullptr, &lockReason) == SerialPortLock::Result::Held)
        return fail(SerialError::Kind::InUse, lockReason);

    const QByteArray native = devicePathBytes(e.device);
    // EBUSY: another program has the device in exclusive use (TIOCEXCL), or a driver holds it.
    auto failWith = [&](int err) {
        return err == EBUSY ? fail(SerialError::Kind::InUse,
                                   QStringLiteral("port má vo výhradnom použití iný program (%1)")
                                       .arg(reasonOf(err)))
                            : fail(SerialError::Kind::Other, reasonOf(err));
    };
    const int fd = ::open(native.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        if (linux_sys::isPermissionError(err))
            return fail(SerialError::Kind::Other,
                        QString::fromStdString(linux_sys::permissionReason(linux_sys::examineDevice(
                            native.toStdString(), linux_sys::DeviceUse::ReadWrite))));
        return failWith(err);
    }
    auto failClosing = [&](int err) {
        ::close(fd);
        return failWith(err);
    };

    termios tio{};
    if (::tcgetattr(fd, &tio) != 0)
        return failClosing(errno); // ENOTTY: not a serial port
    tio.c_cflag |= CLOCAL;
    if (::tcsetattr(fd, TCSANOW, &tio) != 0)
        return failClosing(errno);
    if (::ioctl(fd, TIOCEXCL) != 0)
        return failClosing(errno);

    probe_ = CaptureProbe{};
    haveLevels_ = true;
    LineSample baseline;
    if (const int err = readSample(fd, probe_, haveLevels_, baseline))
        return failClosing(err);
    baseline.atMs = clock_.milliseconds();
    book_.start(baseline);
    updateMode();

    fd_ = fd;
    commPort_ = commPort;
    device_ = e.device;
    levels_ = LineLevels{baseline.levels[index(Line::CTS)], baseline.levels[index(Line::DSR)],
                         baseline.levels[index(Line::CD)]};
    wakes_ = 0;
    stop_ = false;
    exited_ = false;
    ++session_;
    try {
        watcher_ = std::thread(&LinuxSerialLines::watch, this);
    } catch (const std::system_error& failure) {
        exited_ = true;
        releaseDevice();
        return fail(SerialError::Kind::Other, reasonOf(failure.code().value()));
    }
    return true;
}

void LinuxSerialLines::close()
{
    const bool watching = watcher_.joinable();
    stopWatcher();
    // The watcher's last reading may be a moment old: the edges since then are owed too. A port
    // that has failed has nothing more to give, and its loss is queued already.
    if (watching && fd_ >= 0)
        readAndPost(nullptr, wholeMicroseconds(), false);
    const std::uint64_t session = session_;
    queue_.deliver();
    if (session == session_)
        releaseDevice();
}

int LinuxSerialLines::readAndPost(std::size_t* posted, std::int64_t wakeUs, bool woken)
{
    const std::int64_t stamp = clock_.milliseconds();
    // Every change before this moment is in the counters read next.
    const std::int64_t lookUs = wholeMicroseconds();
    LineSample sample;
    if (const int err = readSample(fd_, probe_, haveLevels_, sample))
        return err;
    sample.atMs = stamp;
    const std::vector<Edge> edges = book_.update(sample);
    if (posted)
        *posted = edges.size();
    std::vector<LineEvent> events;
    events.reserve(edges.size());
    for (const Edge& edge : edges)
        events.push_back(
            LineEvent{commEventOf(edge.line), edge.level, stamp, wakeUs, woken && edge.timed});
    queue_.post(std::move(events), lookUs);
    return 0;
}

void LinuxSerialLines::stopWatcher()
{
    if (!watcher_.joinable())
        return;
    stop_ = true;
    // A signal that lands just before the watcher enters the wait is lost, so it is repeated
    // until the watcher has left its loop. The descriptor stays open throughout: closing it under
    // a blocked ioctl is not a way to wake it.
    const pthread_t thread = watcher_.native_handle();
    while (!exited_.load()) {
        ::pthread_kill(thread, wakeSignal());
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    watcher_.join();
}

void LinuxSerialLines::releaseDevice()
{
    if (fd_ >= 0) {
        ::ioctl(fd_, TIOCNXCL);
        ::close(fd_);
        fd_ = -1;
    }
    lock_.release();
    levels_ = LineLevels{};
}

void LinuxSerialLines::updateMode()
{
    mode_ = probe_.mode();
    useWait_ = probe_.useWait();
}

void LinuxSerialLines::watch()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, wakeSignal());
    ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);

    // The periodic re-check: the same signal, sent to this thread only.
    timer_t timer{};
    bool haveTimer = false;
    sigevent sev{};
    sev.sigev_notify = SIGEV_THREAD_ID;
    sev.sigev_signo = wakeSignal();
    sev._sigev_un._tid = ::gettid();
    watcherTid_ = ::gettid();
    if (::timer_create(CLOCK_MONOTONIC, &sev, &timer) == 0) {
        haveTimer = true;
        const long ns = static_cast<long>(options_.recheckMs) * 1'000'000L;
        itimerspec its{};
        its.it_interval.tv_sec = ns / 1'000'000'000L;
        its.it_interval.tv_nsec = ns % 1'000'000'000L;
        its.it_value = its.it_interval;
        ::timer_settime(timer, 0, &its, nullptr);
    }

    auto lose = [&](int err) {
        SerialError error;
        error.kind = SerialError::Kind::Gone;
        error.commPort = commPort_;
        error.device = device_;
        error.reason = reasonOf(err);
        queue_.postLoss(error);
    };

    // Each turn waits for the driver's wake-up (or, where the driver cannot wait, sleeps a poll's
    // length), then reads until a reading brings nothing new. The capture probe judges from the
    // first reading of each turn whether the driver's wait and counters can be trusted.
    while (!stop_.load()) {
        bool woke = false;
        std::int64_t wakeUs = 0;
        if (probe_.useWait()) {
            if (::ioctl(fd_, TIOCMIWAIT, TIOCM_CTS | TIOCM_DSR | TIOCM_CD) == 0) {
                woke = true;
                wakeUs = wholeMicroseconds();
            } else if (errno != EINTR) {
                const int err = errno;
                if (deviceGone(err)) {
                    lose(err);
                    break;
                }
                probe_.waitRefused(); // ENOTTY, EINVAL, ...: the driver has no wait
                updateMode();
            }
        } else {
            // Where nothing can be read at all (no counters and no levels: a pseudo-terminal),
            // fast polling would find nothing; only the loss of the device is left to notice, and
            // the re-check interval is soon enough for that.
            const bool readable = probe_.useCounters() || haveLevels_;
            const long ns =
                readable ? 1'000'000L : static_cast<long>(options_.recheckMs) * 1'000'000L;
            timespec pause{ns / 1'000'000'000L, ns % 1'000'000'000L};
            ::clock_nanosleep(CLOCK_MONOTONIC, 0, &pause, nullptr);
        }
        if (stop_.load())
            break;
        ++wakes_;

        // Read until a reading brings nothing new. The driver's wait only notices changes after
        // it has started, so one that slips in between the last reading and the next wait would
        // otherwise be seen only at the next re-check.
        bool lost = false;
        for (int round = 0; round < 64; ++round) {
            std::size_t posted = 0;
            // A change that slipped in after the first reading is timed by the reading that finds
            // it, which follows it as closely as the wake did.
            if (round > 0 || !woke)
                wakeUs = wholeMicroseconds();
            if (const int err = readAndPost(&posted, wakeUs, woke)) {
                // Whatever else fails here leaves nothing to watch either.
                lose(err);
                lost = true;
                break;
            }
            if (round == 0) {
                probe_.afterFirstReading(woke, posted != 0, book_);
                updateMode();
            }
            if (posted == 0)
                break;
        }
        if (lost)
            break;
    }

    if (haveTimer)
        ::timer_delete(timer);
    watcherTid_ = 0;
    exited_ = true;
}

void LinuxSerialLines::deliverLoss(const SerialError& error)
{
    stopWatcher();
    releaseDevice();
    Q_EMIT portLost(error);
}

void LinuxSerialLines::deliverEdge(const LineEvent& event)
{
    levels_.apply(event);
    Q_EMIT lineChanged(event);
}

LinuxSerialLinesProvider::LinuxSerialLinesProvider(const TickClock& clock,
                                                   LinuxSerialOptions options)
    : clock_(clock), options_(std::move(options))
{
}

std::unique_ptr<SerialLines> LinuxSerialLinesProvider::create()
{
    return std::make_unique<LinuxSerialLines>(clock_, options_);
}

QString LinuxSerialLinesProvider::devicePath(int commPort) const
{
    return comDevicePath(options_, commPort);
}

} // namespace diagnostika
