#pragma once
// The serial lines on a Linux tty (8250 UARTs, USB serial adapters).
//
// Opening: O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC, CLOCAL set at once (a falling CD must never
// hang the port up), the LCK.. lock file, then TIOCEXCL. A busy device or a held lock is
// SerialError::Kind::InUse, with the holder (the lock's PID and file, or another program's
// exclusive use) as its reason; every other failure is Kind::Other with the system's reason.
//
// Watching: one thread per open port waits in TIOCMIWAIT for CTS, DSR and CD, reads the kernel's
// per-line change counters (TIOCGICOUNT) and the levels (TIOCMGET), and turns them into edges
// through the EdgeBook, all stamped with the tick clock at wake-up. The thread touches no Qt
// object: it queues the edges and asks the owner's thread to deliver them. The wait compares
// against the counters as they are when it starts, so an edge just before it would only be noticed
// at the next wake: the watcher therefore reads again until a reading brings nothing new, and a
// periodic timer signal (recheckMs) wakes it anyway, which bounds how late such an edge is seen
// and shows a driver whose wait never wakes.
//
// Drivers that lack parts of this are detected as the port runs: no counters (ENOTTY/EINVAL from
// TIOCGICOUNT, or counters that stand still while levels change) give one edge per level change;
// no wait (ENOTTY/EINVAL from TIOCMIWAIT, or a wait that never wakes while levels change) gives
// polling of the levels every millisecond. captureMode() says which. A driver with neither counters
// nor levels (a pseudo-terminal) has nothing to poll: it is only read every recheckMs, to notice
// when it goes away.
//
// EIO or ENODEV from any call means the device is gone: the port closes and portLost is emitted
// once, after every edge seen before.

#include "platform/captureprobe.h"
#include "platform/edgebook.h"
#include "platform/edgequeue.h"
#include "platform/seriallines.h"
#include "platform/tickclock.h"
#include "serialportlock.h"

#include <QStringList>
#include <atomic>
#include <map>
#include <thread>

namespace diagnostika {

struct LinuxSerialOptions {
    // COM number -> device; ports not listed use /dev/ttyS<n-1>.
    std::map<int, QString> comDevices;
    QStringList lockDirectories = SerialPortLock::defaultDirectories();
    // How often the watcher looks even without a wake-up, in milliseconds.
    int recheckMs = 50;
};

// The device COM`commPort` stands for: the override, or /dev/ttyS<commPort - 1>.
QString comDevicePath(const LinuxSerialOptions& options, int commPort);

class LinuxSerialLines final : public SerialLines {
    Q_OBJECT
public:
    LinuxSerialLines(const TickClock& clock, LinuxSerialOptions options, QObject* parent = nullptr);
    // Closes the port without delivering what is still queued: nobody may be listening any more.
    ~LinuxSerialLines() override;

    bool open(int commPort, SerialError* error) override;
    // Stops the watcher, delivers every edge it had seen, then releases the device and the lock.
    void close() override;
    void deliverPending() override { queue_.deliver(); }
    bool isOpen() const override { return fd_ >= 0; }
    int commPort() const override { return commPort_; }
    LineLevels levels() const override { return levels_; }
    CaptureMode captureMode() const override { return mode_.load(); }
    std::optional<std::int64_t> seenUntilUs() const override
    {
        return isOpen() ? queue_.seenUntilUs() : std::nullopt;
    }
    // A watcher woken by the driver stamps an edge some tens of microseconds after it, but on a
    // busy machine one wake-up can come a good part of a millisecond later than the next; a
    // poller's stamp is late by anything up to its period.
    std::int64_t stampUncertaintyUs() const override { return useWait_.load() ? 500 : 1000; }

    QString devicePath(int commPort) const;
    QString device() const { return device_; }
    QString lockFilePath() const { return lock_.path(); }
    // Whether the watcher is waiting in the driver (as opposed to polling); for tests.
    bool usesDriverWait() const { return useWait_.load(); }
    // How many times the watcher has woken or polled since the port opened; for tests.
    std::uint64_t wakeCount() const { return wakes_.load(); }
    // The watcher's kernel thread id while it runs, else 0; for tests that watch it block.
    int watcherTid() const { return watcherTid_.load(); }

private:
    void watch();
    // One reading of the lines: its edges are queued for the owner, and counted in `posted`.
    // Returns 0 or the errno of a failed read.
    // `wakeUs` is when the watcher woke for this reading; `woken` says whether a line change woke
    // it (rather than the re-check or the polling sleep), which is what makes that moment an edge's
    // own time.
    int readAndPost(std::size_t* posted, std::int64_t wakeUs, bool woken);
    void stopWatcher();
    void releaseDevice();
    void deliverEdge(const LineEvent& event);
    void deliverLoss(const SerialError& error);
    void updateMode();

    const TickClock& clock_;
    LinuxSerialOptions options_;
    SerialPortLock lock_;

    int fd_ = -1;
    // Counts the openings: a handler run while closing may open the port again, which the closing
    // must then leave alone.
    std::uint64_t session_ = 0;
    int commPort_ = 0;
    QString device_;
    LineLevels levels_;

    // Watcher state. The book and the flags below are the watcher's while it runs.
    std::thread watcher_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> exited_{true};
    EdgeBook book_;
    CaptureProbe probe_;
    bool haveLevels_ = true;
    std::atomic<bool> useWait_{true}; // mirrors probe_ for other threads
    std::atomic<CaptureMode> mode_{CaptureMode::Counted};
    std::atomic<std::uint64_t> wakes_{0};
    std::atomic<int> watcherTid_{0};

    // Edges and the loss on their way to the owner's thread.
    EdgeQueue queue_;
};

class LinuxSerialLinesProvider final : public SerialLinesProvider {
public:
    LinuxSerialLinesProvider(const TickClock& clock, LinuxSerialOptions options);
    std::unique_ptr<SerialLines> create() override;
    QString devicePath(int commPort) const override;

private:
    const TickClock& clock_;
    LinuxSerialOptions options_;
};

} // namespace diagnostika
