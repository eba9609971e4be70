// Inside the rig's guest (bench/rig/serial.sh): our serial capture on real drivers.
//
//   serial_capture_rig floor ACM GADGET N          how late each DSR edge is stamped, N pulses
//   serial_capture_rig count ACM GADGET N WIDTH_US  DSR pulses counted against the driver's count
//   serial_capture_rig loop8250 TTY N               the 8250's loopback: does DSR move, and when
//
// The true time of a cdc-acm edge is CLOCK_MONOTONIC taken by this program just before it opens or
// closes the gadget's end; the stamps are the same clock, so the difference is the capture's
// lateness (the USB round trip through the dummy controller included).
#include "benchsupport.h"
#include "platform/linux/linuxseriallines.h"
#include "platform/tickclock.h"
#include "pulsetrain.h"

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <termios.h>
#include <thread>

using namespace diagnostika;
using namespace diagnostika::bench;

namespace {

// TIOCM_LOOP: the UART's loopback bit, which glibc's headers do not carry.
constexpr int modemLoopback = 0x8000;

struct Capture {
    std::vector<LineEvent> dsr;
};

// Opens `device` as COM1 with our backend, runs `drive`, then takes every edge seen.
template <typename Drive> bool capture(const char* device, Capture* out, Drive drive)
{
    MonotonicClock clock;
    LinuxSerialOptions options;
    options.comDevices[1] = QString::fromLatin1(device);
    LinuxSerialLines lines(clock, options);
    QObject::connect(&lines, &SerialLines::lineChanged, [out](const LineEvent& e) {
        if (e.commEvent == comEvDSR)
            out->dsr.push_back(e);
    });
    SerialError error;
    if (!lines.open(1, &error)) {
        std::fprintf(stderr, "%s: %s\n", device, qPrintable(error.reason));
        return false;
    }
    std::printf("%s: capture mode %d (0 counted, 1 levels, 2 polled)\n", device,
                static_cast<int>(lines.captureMode()));
    drive();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    lines.close();
    return true;
}

int floorRun(const char* acm, const char* gadget, int n)
{
    Capture got;
    std::vector<std::int64_t> truth;
    std::vector<std::int64_t> calls;
    // Uneven gaps (1 to 4 ms) so that the train does not beat with any periodic wake.
    if (!capture(acm, &got, [&] {
            for (int i = 0; i < n; ++i) {
                const auto t =
                    pulseGadget(gadget, 1, 1000 + 700 * (i % 5), 1000 + 500 * (i % 7), &calls);
                truth.insert(truth.end(), t.begin(), t.end());
            }
        }))
        return 1;
    // The driver merges a few quick changes (it counts fewer than were made), so an edge is matched
    // with the latest true edge of its direction before its stamp rather than by its place in the
    // train; the gaps (1 ms and more) are longer than any lateness seen.
    std::vector<std::int64_t> late;
    for (const LineEvent& e : got.dsr) {
        if (!e.timed)
            continue;
        std::int64_t matched = -1;
        for (std::size_t i = e.level ? 0 : 1; i < truth.size() && truth[i] <= e.stampUs; i += 2)
            matched = truth[i];
        if (matched >= 0)
            late.push_back(e.stampUs - matched);
    }
    std::printf("cdc-acm: %zu true edges, %zu DSR edges seen, %zu of them timed\n", truth.size(),
                got.dsr.size(), late.size());
    if (late.empty())
        return 1;
    std::printf("cdc-acm: stamp late by median %.0f us, 99th percentile %.0f us, worst %.0f us\n",
                percentile(late, 0.5), percentile(late, 0.99), percentile(late, 1.0));
    std::printf("cdc-acm: the gadget's open or close itself took median %.0f us, 99th percentile "
                "%.0f us\n",
                percentile(calls, 0.5), percentile(calls, 0.99));
    summary("rig timing floor: cdc-acm DSR stamp late, median / 99th %",
            "report (USB round trip included)", "%.0f / %.0f us (%zu edges)", percentile(late, 0.5),
            percentile(late, 0.99), late.size());
    return 0;
}

int countRun(const char* acm, const char* gadget, int n, int widthUs)
{
    Capture got;
    long driver = 0;
    if (!capture(acm, &got, [&] { driver = driverCountedTrain(acm, gadget, n, widthUs); }))
        return 1;
    int ours = 0;
    for (const auto& e : got.dsr)
        ours += e.level ? 0 : 1;
    reportAgainstDriver("ours", "100 %", n, widthUs, ours, driver);
    return 0;
}

// The 8250's loopback ties DTR to DSR inside the UART: toggling DTR should move DSR.
int loopRun(const char* tty, int n)
{
    Capture got;
    long before = 0;
    long after = 0;
    int levelChanges = 0;
    if (!capture(tty, &got, [&] {
            const int fd = ::open(tty, O_RDWR | O_NOCTTY | O_NONBLOCK);
            int bits = modemLoopback;
            ::ioctl(fd, TIOCMSET, &bits);
            before = driverDsrCount(tty);
            for (int i = 0; i < n; ++i) {
                int dtr = TIOCM_DTR;
                ::ioctl(fd, (i % 2) ? TIOCMBIC : TIOCMBIS, &dtr);
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                int now = 0;
                ::ioctl(fd, TIOCMGET, &now);
                levelChanges += ((now & TIOCM_DSR) != 0) == (i % 2 == 0) ? 1 : 0;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            after = driverDsrCount(tty);
            bits = 0;
            ::ioctl(fd, TIOCMSET, &bits);
            ::close(fd);
        }))
        return 1;
    std::printf("8250 loopback: %d DTR toggles, DSR read back following %d, driver counted %ld "
                "DSR changes, our capture saw %zu DSR edges\n",
                n, levelChanges, after - before, got.dsr.size());
    // Without the driver's count there is no edge to time: the levels alone come only at the
    // watcher's periodic re-check.
    summary("rig timing floor: 8250 DSR in loopback", "median / 99th %, as cdc-acm",
            after - before > 0
                ? "driver counted %ld of %d changes"
                : "not measurable: driver counted %ld of %d changes (no modem-status interrupt)",
            after - before, n);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const char* mode = argc > 1 ? argv[1] : "";
    if (std::strcmp(mode, "floor") == 0 && argc == 5)
        return floorRun(argv[2], argv[3], std::atoi(argv[4]));
    if (std::strcmp(mode, "count") == 0 && argc == 6)
        return countRun(argv[2], argv[3], std::atoi(argv[4]), std::atoi(argv[5]));
    if (std::strcmp(mode, "loop8250") == 0 && argc == 4)
        return loopRun(argv[2], std::atoi(argv[3]));
    std::fprintf(stderr,
                 "usage: serial_capture_rig floor ACM GADGET N | count ACM GADGET N WIDTH_US "
                 "| loop8250 TTY N\n");
    return 2;
}
