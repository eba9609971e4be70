// The Linux serial backend against real kernel drivers, inside the rig's guest (see serial.sh):
// an 8250 UART at /dev/ttyS1 and a cdc-acm adapter at /dev/ttyACM0 whose gadget side is
// /dev/ttyGS0 (opening it raises DSR and DCD, closing drops them).
//
//   serial_rig_test --try-open DEVICE   opens DEVICE as COM1 and exits 0 (opened), 10 (in use),
//                                       11 (other failure); used as the second, unprivileged opener
#include "platform/linux/linuxseriallines.h"
#include "platform/tickclock.h"

#include <QCoreApplication>
#include <QFile>
#include <QTest>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace diagnostika;

namespace {

std::string selfPath;

LinuxSerialOptions optionsFor(const char* device, int recheckMs = 50)
{
    LinuxSerialOptions o;
    o.comDevices[1] = QString::fromLatin1(device);
    o.recheckMs = recheckMs;
    return o;
}

// Runs `command` through the shell; returns its exit status.
int run(const std::string& command)
{
    const int rc = std::system(command.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

int tryOpenAsNobody(const char* device)
{
    return run("setpriv --reuid=65534 --regid=65534 --clear-groups " + selfPath + " --try-open " +
               device);
}

std::string readFile(const std::string& path)
{
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll().trimmed().toStdString();
}

// Whether kernel thread `tid` of this process sleeps in the driver's modem-status wait.
bool blockedInWait(int tid)
{
    const std::string base = "/proc/self/task/" + std::to_string(tid);
    const std::string stat = readFile(base + "/stat");
    const auto close = stat.rfind(')');
    if (close == std::string::npos || close + 2 >= stat.size() || stat[close + 2] != 'S')
        return false;
    const std::string wchan = readFile(base + "/wchan");
    // Without symbol names the sleeping state is all there is to go by.
    return wchan.empty() || wchan == "0" || wchan.find("modem") != std::string::npos ||
           wchan.find("wait") != std::string::npos;
}

// Counts the pulses (trailing edges) per line, and edges that do not alternate.
struct Tally {
    int pulses[6] = {};
    int edges[6] = {};
    int repeats = 0;
    bool level[6] = {};
    void add(const LineEvent& e)
    {
        if (e.level == level[e.commEvent] && edges[e.commEvent] > 0)
            ++repeats;
        level[e.commEvent] = e.level;
        ++edges[e.commEvent];
        if (!e.level)
            ++pulses[e.commEvent];
    }
};

// ---- 8250 UART -------------------------------------------------------------------------------

TEST(Uart8250, OpensWithClocalAndTheKernelsCounters)
{
    MonotonicClock clock;
    LinuxSerialLines lines(clock, optionsFor("/dev/ttyS1"));
    SerialError error;
    ASSERT_TRUE(lines.open(1, &error)) << error.reason.toStdString();
    EXPECT_EQ(lines.captureMode(), CaptureMode::Counted);
    EXPECT_TRUE(lines.usesDriverWait());
    // Nothing is attached: the emulated UART reads CTS, DSR and CD as on.
    EXPECT_TRUE(lines.levels().cts && lines.levels().dsr && lines.levels().cd);

    const int fd = ::open("/dev/ttyS1", O_RDONLY | O_NOCTTY | O_NONBLOCK); // root passes TIOCEXCL
    ASSERT_GE(fd, 0);
    termios tio{};
    ASSERT_EQ(::tcgetattr(fd, &tio), 0);
    EXPECT_TRUE(tio.c_cflag & CLOCAL);
    int exclusive = 0;
    ASSERT_EQ(::ioctl(fd, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1);
    ::close(fd);
    std::printf("[ rig ] 8250 lock file: %s\n", qPrintable(lines.lockFilePath()));
}

TEST(Uart8250, ASecondOpenerThatIsNotRootMeetsInUse)
{
    ASSERT_EQ(::chmod("/dev/ttyS1", 0666), 0);
    ASSERT_EQ(tryOpenAsNobody("/dev/ttyS1"), 0) << "the unprivileged opener cannot open at all";

    // Held by this program: the lock file says so first.
    {
        MonotonicClock clock;
        LinuxSerialLines lines(clock, optionsFor("/dev/ttyS1"));
        ASSERT_TRUE(lines.open(1, nullptr));
        EXPECT_EQ(tryOpenAsNobody("/dev/ttyS1"), 10);
    }
    // Held exclusively by a program that takes no lock file: the kernel's EBUSY says so.
    {
        const int fd = ::open("/dev/ttyS1", O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ioctl(fd, TIOCEXCL), 0);
        EXPECT_EQ(tryOpenAsNobody("/dev/ttyS1"), 10);
        ::close(fd);
    }
    EXPECT_EQ(tryOpenAsNobody("/dev/ttyS1"), 0) << "released port still refused";
}

TEST(Uart8250, AWatcherBlockedInTheWaitStopsWithin100ms)
{
    MonotonicClock clock;
    // No periodic re-check: the only way out of the wait is the stop signal.
    LinuxSerialLines lines(clock, optionsFor("/dev/ttyS1", 3'600'000));
    std::int64_t worstUs = 0;
    for (int round = 0; round < 20; ++round) {
        ASSERT_TRUE(lines.open(1, nullptr));
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return lines.watcherTid() != 0 && blockedInWait(lines.watcherTid()); }, 5000))
            << "the watcher never blocked";
        const auto begin = std::chrono::steady_clock::now();
        lines.close();
        const auto us = std::chrono::duration_cast<std::chrono::microseconds>(
                            std::chrono::steady_clock::now() - begin)
                            .count();
        worstUs = std::max<std::int64_t>(worstUs, us);
        EXPECT_LT(us, 100'000) << "round " << round;
        EXPECT_EQ(lines.watcherTid(), 0);
    }
    std::printf("[ rig ] 8250 blocked watcher: worst stop of 20 took %lld us\n",
                static_cast<long long>(worstUs));
}

// ---- cdc-acm adapter -------------------------------------------------------------------------

// Opens and closes the gadget's side `pulses` times: each a pulse on DSR and DCD of the adapter.
// Returns the pulses made; stops early (and says why) when the gadget's side cannot be opened.
int pulseGadget(int pulses, std::chrono::microseconds half)
{
    for (int i = 0; i < pulses; ++i) {
        int fd = -1;
        // A tty still closing from the previous pulse may refuse a moment (EIO/EAGAIN/EBUSY).
        for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
            fd = ::open("/dev/ttyGS0", O_RDWR | O_NOCTTY);
            if (fd >= 0)
                break;
            if (errno != EINTR && errno != EBUSY && errno != EAGAIN && errno != EIO)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (fd < 0) {
            std::printf("[ rig ] /dev/ttyGS0 after %d pulses: %s\n", i, std::strerror(errno));
            return i;
        }
        std::this_thread::sleep_for(half);
        ::close(fd);
        std::this_thread::sleep_for(half);
    }
    return pulses;
}

// Waits until the tally stops growing (the driver's last report is in).
void settle(const Tally& tally)
{
    int last = -1;
    for (int i = 0; i < 50; ++i) {
        const int now = tally.edges[comEvDSR] + tally.edges[comEvCD];
        if (now == last)
            return;
        last = now;
        QTest::qWait(300);
    }
}

// The kernel's own DSR and DCD change counters of a port, read beside the port under test.
struct KernelCounts {
    int dsr = 0;
    int dcd = 0;
};
KernelCounts kernelCounts(const char* device)
{
    KernelCounts k;
    const int fd = ::open(device, O_RDONLY | O_NOCTTY | O_NONBLOCK); // root passes TIOCEXCL
    serial_icounter_struct ic{};
    if (fd >= 0 && ::ioctl(fd, TIOCGICOUNT, &ic) == 0) {
        k.dsr = ic.dsr;
        k.dcd = ic.dcd;
    }
    if (fd >= 0)
        ::close(fd);
    return k;
}

TEST(CdcAcm, ThousandPulsesOnDsrAndDcdAreCountedExactly)
{
    MonotonicClock clock;
    LinuxSerialLines lines(clock, optionsFor("/dev/ttyACM0"));
    Tally tally;
    QObject::connect(&lines, &SerialLines::lineChanged, [&](LineEvent e) { tally.add(e); });
    SerialError error;
    ASSERT_TRUE(lines.open(1, &error)) << error.reason.toStdString();
    EXPECT_EQ(lines.captureMode(), CaptureMode::Counted);
    EXPECT_FALSE(lines.levels().dsr);

    // Slow enough for the emulated adapter, whose reports merge sporadically from a few hundred
    // pulses per second (FindTheRateWhereTheAdapterMergesPulses).
    const KernelCounts before = kernelCounts("/dev/ttyACM0");
    const auto begin = std::chrono::steady_clock::now();
    std::atomic<int> made{-1};
    std::thread pulser([&] { made = pulseGadget(1000, std::chrono::milliseconds(10)); });
    while (!QTest::qWaitFor([&] { return made.load() >= 0; }, 100)) {
    }
    pulser.join();
    ASSERT_EQ(made.load(), 1000);
    settle(tally);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    const KernelCounts after = kernelCounts("/dev/ttyACM0");
    std::printf("[ rig ] cdc-acm 1000 pulses (10 ms high, 10 ms low) in %.1f s: driver counted "
                "%d DSR and %d DCD changes; delivered DSR %d, CD %d pulses, CTS %d edges, %d "
                "non-alternating\n",
                seconds, after.dsr - before.dsr, after.dcd - before.dcd, tally.pulses[comEvDSR],
                tally.pulses[comEvCD], tally.edges[comEvCTS], tally.repeats);
    EXPECT_EQ(tally.edges[comEvDSR], after.dsr - before.dsr);
    EXPECT_EQ(tally.edges[comEvCD], after.dcd - before.dcd);
    EXPECT_EQ(tally.pulses[comEvDSR], 1000);
    EXPECT_EQ(tally.pulses[comEvCD], 1000);
    EXPECT_EQ(tally.edges[comEvDSR], 2000);
    EXPECT_EQ(tally.edges[comEvCD], 2000);
    EXPECT_EQ(tally.edges[comEvCTS], 0) << "cdc-acm has no CTS";
    EXPECT_EQ(tally.repeats, 0);
    EXPECT_EQ(lines.captureMode(), CaptureMode::Counted);
}

TEST(CdcAcm, RigAcmPulsesAreCountedExactly)
{
    MonotonicClock clock;
    LinuxSerialLines lines(clock, optionsFor("/dev/ttyACM0"));
    Tally tally;
    QObject::connect(&lines, &SerialLines::lineChanged, [&](LineEvent e) { tally.add(e); });
    ASSERT_TRUE(lines.open(1, nullptr));
    std::atomic<int> rc{-1};
    std::thread pulser([&] { rc = run("rig-acm pulse 50 2"); });
    while (!QTest::qWaitFor([&] { return tally.pulses[comEvCD] >= 50; }, 100)) {
        if (rc.load() != -1)
            break;
    }
    pulser.join();
    settle(tally);
    ASSERT_EQ(rc.load(), 0);
    EXPECT_EQ(tally.pulses[comEvDSR], 50);
    EXPECT_EQ(tally.pulses[comEvCD], 50);
}

TEST(CdcAcm, FindTheRateWhereTheAdapterMergesPulses)
{
    std::printf("[ rig ] cdc-acm merging (1000 pulses each): half period | pulses/s achieved | "
                "DSR changes the driver counted | DSR, CD pulses delivered\n");
    for (const int halfUs : {2000, 1000, 500, 250, 100, 50, 20, 0}) {
        MonotonicClock clock;
        LinuxSerialLines lines(clock, optionsFor("/dev/ttyACM0"));
        Tally tally;
        QObject::connect(&lines, &SerialLines::lineChanged, [&](LineEvent e) { tally.add(e); });
        ASSERT_TRUE(lines.open(1, nullptr));
        const KernelCounts before = kernelCounts("/dev/ttyACM0");
        constexpr int pulses = 1000;
        std::atomic<bool> done{false};
        double seconds = 0;
        int made = 0;
        std::thread pulser([&] {
            const auto begin = std::chrono::steady_clock::now();
            made = pulseGadget(pulses, std::chrono::microseconds(halfUs));
            seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
            done = true;
        });
        while (!QTest::qWaitFor([&] { return done.load(); }, 100)) {
        }
        pulser.join();
        ASSERT_EQ(made, pulses);
        settle(tally);
        lines.close();
        const KernelCounts after = kernelCounts("/dev/ttyACM0");
        std::printf("[ rig ]   %5d us | %6.0f/s | %5d | %4d, %4d%s\n", halfUs, pulses / seconds,
                    after.dsr - before.dsr, tally.pulses[comEvDSR], tally.pulses[comEvCD],
                    tally.pulses[comEvDSR] < pulses ? "  merged by the adapter" : "");
        // Whatever the adapter merges, every change the driver counted is delivered, as whole
        // pulses on both lines.
        EXPECT_EQ(tally.edges[comEvDSR], after.dsr - before.dsr);
        EXPECT_EQ(tally.edges[comEvCD], after.dcd - before.dcd);
        EXPECT_EQ(tally.repeats, 0);
        EXPECT_LE(tally.pulses[comEvDSR], pulses);
    }
}

TEST(CdcAcmUnplug, AnUnpluggedAdapterIsLostOnceAfterEveryEdgeSeen)
{
    MonotonicClock clock;
    LinuxSerialLines lines(clock, optionsFor("/dev/ttyACM0"));
    Tally tally;
    int lost = 0;
    int pulsesAtLoss = -1;
    SerialError lostError;
    QObject::connect(&lines, &SerialLines::lineChanged, [&](LineEvent e) { tally.add(e); });
    QObject::connect(&lines, &SerialLines::portLost, [&](SerialError e) {
        ++lost;
        pulsesAtLoss = tally.pulses[comEvDSR];
        lostError = e;
    });
    ASSERT_TRUE(lines.open(1, nullptr));
    ASSERT_EQ(pulseGadget(20, std::chrono::microseconds(2000)), 20);
    ASSERT_TRUE(QTest::qWaitFor([&] { return tally.pulses[comEvDSR] >= 20; }, 10000));
    ASSERT_EQ(run("rig-acm unplug"), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return lost > 0; }, 10000)) << "the loss was not noticed";
    QTest::qWait(200);
    EXPECT_EQ(lost, 1);
    EXPECT_EQ(pulsesAtLoss, 20);
    EXPECT_EQ(lostError.kind, SerialError::Kind::Gone);
    EXPECT_EQ(lostError.device, QStringLiteral("/dev/ttyACM0"));
    EXPECT_FALSE(lines.isOpen());
    std::printf("[ rig ] cdc-acm unplug: portLost once, reason \"%s\"\n",
                qPrintable(lostError.reason));
    lines.close();
    SerialError error;
    EXPECT_FALSE(lines.open(1, &error));
    EXPECT_EQ(error.kind, SerialError::Kind::Other);
    EXPECT_EQ(lost, 1);
}

} // namespace

int main(int argc, char** argv)
{
    // Unbuffered, so that the guest's log keeps everything up to a crash.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc == 3 && std::string(argv[1]) == "--try-open") {
        MonotonicClock clock;
        LinuxSerialLines lines(clock, optionsFor(argv[2]));
        SerialError error;
        if (lines.open(1, &error))
            return 0;
        std::fprintf(stderr, "try-open %s: %s\n", argv[2], qPrintable(error.reason));
        return error.kind == SerialError::Kind::InUse ? 10 : 11;
    }
    QCoreApplication app(argc, argv);
    selfPath = QCoreApplication::applicationFilePath().toStdString();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
