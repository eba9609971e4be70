#include "platform/quitsignals.h"

#include "serialportlock.h"

#include <QSocketNotifier>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace diagnostika {

namespace {

constexpr std::array<int, 3> quitSignalNumbers = {SIGINT, SIGTERM, SIGHUP};

// The write end of the pipe the handler reports through; -1 while no object lives. A signal
// handler may do little more than write(), so the rest happens on the event loop.
volatile sig_atomic_t reportFd = -1;

// The quit signals received since the object was made. The orderly quit runs on the event loop; a
// second signal before it has finished means the loop does not come round (the user-interface
// thread waits on a file that never answers, say), and the handler ends the program itself.
std::atomic<int> signalsSeen{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler counts with it");

void onQuitSignal(int number)
{
    const int savedErrno = errno;
    if (signalsSeen.fetch_add(1) > 0) {
        // What the orderly quit would have released and others would stumble on: the lock files.
        // The ports themselves are released by the system as the process ends.
        removeHeldSerialLocksNow();
        ::_exit(128 + number);
    }
    const int fd = reportFd;
    if (fd >= 0) {
        const auto byte = static_cast<unsigned char>(number);
        // Non-blocking: a full pipe already holds a request, so a lost byte loses nothing.
        [[maybe_unused]] const ssize_t n = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

} // namespace

struct QuitSignals::Handling {
    int pipe[2] = {-1, -1};
    std::array<struct sigaction, quitSignalNumbers.size()> former{};
    std::unique_ptr<QSocketNotifier> notifier;
};

QuitSignals::QuitSignals(QObject* parent) : QObject(parent), handling_(std::make_unique<Handling>())
{
    Handling& h = *handling_;
    if (::pipe2(h.pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return; // the signals keep their default action: the program still ends, only abruptly
    reportFd = h.pipe[1];
    signalsSeen = 0;
    h.notifier = std::make_unique<QSocketNotifier>(h.pipe[0], QSocketNotifier::Read);
    connect(h.notifier.get(), &QSocketNotifier::activated, this, [this] {
        unsigned char byte = 0;
        int first = 0;
        while (::read(handling_->pipe[0], &byte, 1) == 1) {
            if (first == 0)
                first = byte;
        }
        if (first == 0 || received_ != 0)
            return;
        received_ = first;
        Q_EMIT quitRequested(first);
    });

    struct sigaction sa {};
    sa.sa_handler = onQuitSignal;
    // One quit handler at a time on a thread: a second signal never interrupts the first's
    // handler before it has counted itself.
    sigemptyset(&sa.sa_mask);
    for (const int number : quitSignalNumbers)
        sigaddset(&sa.sa_mask, number);
    // Restarted: no other call in the program has to expect EINTR because of these.
    sa.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < quitSignalNumbers.size(); ++i)
        ::sigaction(quitSignalNumbers[i], &sa, &h.former[i]);
}

QuitSignals::~QuitSignals()
{
    Handling& h = *handling_;
    if (h.pipe[1] < 0)
        return;
    for (std::size_t i = 0; i < quitSignalNumbers.size(); ++i)
        ::sigaction(quitSignalNumbers[i], &h.former[i], nullptr);
    reportFd = -1;
    h.notifier.reset();
    ::close(h.pipe[0]);
    ::close(h.pipe[1]);
}

} // namespace diagnostika
