// An unattended run as a service makes it: the whole program (main window, serial window, recorder)
// on the simulator, headless, set up from a setup file and recording with a new set of files every
// hour, for hours. The simulated sensor box makes 1,000 edges a second, spread over CTS, DSR and
// CD. Reports the process's resident memory after the first minute and at the end (the goal: the
// end within 10 % of the first minute), the sets of files made, and every line's edges in the files
// against the pulses the box made while the port was open.
//
//   unattended_run [seconds, default 28800 (8 hours)] [split clock speed-up, default 1]
//
// A speed-up of 60 brings the hourly split into a shortened run: the tick clock runs 60 times
// faster for the split's decision, while the wall clock's distance to the next full hour does not,
// so a set of files ends every 20 to 60 s.

#include "benchsupport.h"
#include "com/form2.h"
#include "common/messages.h"
#include "platform/backends.h"
#include "platform/sim/simseriallines.h"
#include "record/recorder.h"
#include "record/unattended.h"
#include "shell/mdiform1.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

using namespace diagnostika;

namespace {

constexpr double edgesPerSecond = 1000;

double residentMB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return 0;
}

// The tick clock run faster, for the split's decisions only.
class FasterClock final : public TickClock {
public:
    FasterClock(const TickClock& clock, int speedUp) : clock_(clock), speedUp_(speedUp) {}
    std::int64_t milliseconds() const override { return clock_.milliseconds() * speedUp_; }

private:
    const TickClock& clock_;
    int speedUp_;
};

} // namespace

int main(int argc, char** argv)
{
    bench::preferOffscreen();
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(61, std::atoi(argv[1])) : 8 * 3600;
    const int speedUp = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1;
    QTemporaryDir temporary;
    const QString folder = temporary.filePath(QStringLiteral("zaznam"));

    BackendOptions options;
    options.simulate = true;
    Backends backends = makeBackends(options);
    MDIForm1 main(backends);
    main.show();
    // As in a headless run: no box waits for someone.
    setInformationPresenter([](QWidget*, const QString&, const QString& text, const QString&) {
        std::fprintf(stderr, "box: %s\n", qPrintable(text));
    });
    const FasterClock splitClock(*backends.clock, speedUp);
    record::UnattendedRecording unattended(main.recorder(), splitClock,
                                           record::UnattendedRecording::Split::Hour);
    QString error;
    if (!unattended.start(folder, &error)) {
        std::fprintf(stderr, "cannot record: %s\n", qPrintable(error));
        return 1;
    }

    // The machine behind the port, then the setup picks the port as a user would.
    main.mnuSerialItem_Click();
    auto* lines = qobject_cast<SimulatedSerialLines*>(main.form2().MSComm1());
    // 8 pulses per revolution on each line at 1250 min^-1: a third of the edges on each.
    constexpr double pulsesPerRevolution = 8;
    const double speed = edgesPerSecond / 3.0 / 2.0 / pulsesPerRevolution * 60.0;
    SensorBox::Machine machine{speed, 0.0, 60'000.0, {}};
    for (int line = 0; line < lineCount; ++line)
        machine.sensors[line] = {pulsesPerRevolution, 0.5, 0.1 * line};
    lines->setMachine(machine);
    const QString setupPath = temporary.filePath(QStringLiteral("setup.json"));
    QFile setup(setupPath);
    if (!setup.open(QIODevice::WriteOnly))
        return 1;
    setup.write(R"({"format": "diagnostika-setup", "version": 1, "windows": {"com": {
        "speedInput": "CTS", "pulsesPerRevolution": "8", "interval": "1s",
        "displacementInput": "DSR", "angleInput": "CD", "port": "COM1"}}})");
    setup.close();
    if (!main.openSetup(setupPath) || !lines->isOpen())
        return 1;

    std::printf("unattended run: %.0f edges/s for %d s, a new set of files every hour (split clock "
                "x%d), into %s\n",
                edgesPerSecond, seconds, speedUp, qPrintable(folder));
    const std::int64_t startMs = backends.clock->milliseconds();
    double firstMinuteMB = 0;
    QTimer::singleShot(60'000, [&] { firstMinuteMB = residentMB(); });
    QTimer report;
    QObject::connect(&report, &QTimer::timeout, [&] {
        std::printf("  %6.0f s: RSS %.1f MB, sets %d, writer backlog %.2f MB\n",
                    static_cast<double>(backends.clock->milliseconds() - startMs) / 1000.0,
                    residentMB(), unattended.sets(),
                    static_cast<double>(main.recorder().backlog()) / 1e6);
        std::fflush(stdout);
    });
    report.start(seconds >= 3600 ? 600'000 : 60'000);
    QTimer::singleShot(seconds * 1000, [] { QCoreApplication::exit(0); });
    const double cpuBefore = bench::cpuSeconds();
    QCoreApplication::exec();
    const double cpuPercent = 100.0 * (bench::cpuSeconds() - cpuBefore) / seconds;
    const double endMB = residentMB();

    lines->close(); // hands the last edges to the window
    const SensorBox box(machine);
    std::int64_t made[lineCount] = {};
    for (int line = 0; line < lineCount; ++line)
        made[line] = box.pulsesBetween(lines->openedAtMs(), lines->lastReadingMs(), line);
    const int sets = unattended.sets();
    main.close(); // as SIGTERM does: every file closed whole

    // Every line's falling edges (its pulses) over every set's edge file.
    std::int64_t inFiles[lineCount] = {};
    int edgeFiles = 0;
    const QDir recorded(folder);
    for (const QString& name : recorded.entryList({QStringLiteral("*_hrany.csv")})) {
        QFile file(recorded.filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        ++edgeFiles;
        file.readLine();
        while (!file.atEnd()) {
            const QList<QByteArray> fields = file.readLine().trimmed().split(',');
            if (fields.size() != 5 || fields[3] != "0")
                continue;
            ++inFiles[fields[2] == "CTS"   ? index(Line::CTS)
                      : fields[2] == "DSR" ? index(Line::DSR)
                                           : index(Line::CD)];
        }
    }
    bool every = true;
    const char* names[lineCount] = {"CTS", "DSR", "CD"};
    std::int64_t madeAll = 0, inAll = 0;
    for (int line = 0; line < lineCount; ++line) {
        std::printf("%5s: pulses made %lld, in the files %lld\n", names[line],
                    static_cast<long long>(made[line]), static_cast<long long>(inFiles[line]));
        every = every && made[line] == inFiles[line];
        madeAll += made[line];
        inAll += inFiles[line];
    }
    const double growth = firstMinuteMB > 0 ? 100.0 * (endMB - firstMinuteMB) / firstMinuteMB : 0;
    std::printf("RSS after the first minute %.1f MB, at the end %.1f MB (%+.1f %%); %d sets of "
                "files, %d edge files; CPU %.1f %% of a core\n",
                firstMinuteMB, endMB, growth, sets, edgeFiles, cpuPercent);
    bench::summary("unattended: RSS at the end against the first minute", "within 10 %",
                   "%.1f MB -> %.1f MB (%+.1f %%) over %d s", firstMinuteMB, endMB, growth,
                   seconds);
    bench::summary("unattended: pulses in the files against those made, 1000 edges/s", "every edge",
                   "%lld of %lld%s, %d sets of files", static_cast<long long>(inAll),
                   static_cast<long long>(madeAll), every ? "" : " MISSING", sets);
    return every && std::abs(growth) <= 10.0 ? 0 : 1;
}
