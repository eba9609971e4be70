// Inside the rig's guest (bench/rig/serial.sh): what a Qt programmer would write instead of our
// capture. QSerialPort on the cdc-acm adapter, pinoutSignals() read every millisecond from a
// QTimer, a pulse counted at each fall of DSR; the driver's own count is the truth.
//
//   serial_qt_poll_rig ACM GADGET N WIDTH_US   N pulses, each WIDTH_US high then WIDTH_US low
#include "benchsupport.h"
#include "pulsetrain.h"

#include <QCoreApplication>
#include <QSerialPort>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <thread>

using namespace diagnostika::bench;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 5) {
        std::fprintf(stderr, "usage: serial_qt_poll_rig ACM GADGET N WIDTH_US\n");
        return 2;
    }
    const char* acm = argv[1];
    const char* gadget = argv[2];
    const int n = std::atoi(argv[3]);
    const int widthUs = std::atoi(argv[4]);

    QSerialPort port(QString::fromLatin1(acm));
    if (!port.open(QIODevice::ReadWrite)) {
        std::fprintf(stderr, "%s: %s\n", acm, qPrintable(port.errorString()));
        return 1;
    }
    bool dsr = (port.pinoutSignals() & QSerialPort::DataSetReadySignal) != 0;
    int pulses = 0;
    QTimer poll;
    poll.setTimerType(Qt::PreciseTimer);
    poll.setInterval(1);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        const bool now = (port.pinoutSignals() & QSerialPort::DataSetReadySignal) != 0;
        if (dsr && !now)
            ++pulses;
        dsr = now;
    });
    poll.start();

    long driver = -1;
    std::thread train([&] {
        const long before = driverDsrCount(acm);
        pulseGadget(gadget, n, widthUs, widthUs);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        driver = driverDsrCount(acm) - before;
        QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
    });
    app.exec();
    train.join();

    std::printf("Qt poll: %d pulses of %.1f ms: driver %ld changes (%ld pulses), Qt %d pulses\n", n,
                widthUs / 1000.0, driver, driver / 2, pulses);
    char measure[120];
    std::snprintf(measure, sizeof measure, "rig cdc-acm %.1f ms pulses: Qt 1 ms poll / driver",
                  widthUs / 1000.0);
    summary(measure, "(for comparison)", "%d / %ld = %.1f %%", pulses, driver / 2,
            driver > 0 ? 200.0 * pulses / static_cast<double>(driver) : 0.0);
    return 0;
}
