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
        driver = driverCountedTrain(acm, gadget, n, widthUs);
        QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
    });
    app.exec();
    train.join();

    reportAgainstDriver("Qt 1 ms poll", "(for comparison)", n, widthUs, pulses, driver);
    return 0;
}
