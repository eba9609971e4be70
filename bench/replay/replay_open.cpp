// Opening a recording again, on an hour of a shaft at 200 pulses/s: the recording is made first by
// the recorder itself (in a child process, so that its memory is not counted), every edge of the
// pulses on CTS with the shaft's speed swinging by a fifth every ten minutes. Then, measured:
//  - opening it "all at once": from reading the files to the trend drawn with the whole hour;
//  - playing it "as fast as possible" on the replay window's own timer: edges per minute;
//  - the process's peak memory.
//
//   replay_open [minutes, default 60]         (replay_open --make FOLDER MINUTES: the recording)

#include "benchsupport.h"
#include "common/feed.h"
#include "record/recorder.h"
#include "replay/recording.h"
#include "replay/replayform.h"
#include "trend/plotlibrary.h"
#include "trend/trendform.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QMdiArea>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <cmath>
#include <cstdio>

using namespace diagnostika;

namespace {

constexpr double pulsesPerSecond = 200;

class HandClock final : public TickClock {
public:
    std::int64_t milliseconds() const override { return ms; }
    std::int64_t ms = 5'000'000;
};

int make(const QString& folder, int minutes)
{
    HandClock clock;
    Feed feed(QStringLiteral("com"), QStringLiteral("Meranie COM"));
    record::Recorder recorder(clock, QStringLiteral("bench"));
    recorder.addFeed(&feed);
    QString error;
    if (!recorder.start(folder, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    feed.publishOpened();
    feed.publishSettings({{"port", QStringLiteral("COM1")},
                          {"captureMode", QStringLiteral("simulated")},
                          {"snimace", QStringLiteral("4")},
                          {"interval", QStringLiteral("1s")},
                          {"vstup", QStringLiteral("CTS")}});
    // The pulse rate swings by a fifth around its mean every ten minutes; each pulse is high for
    // half its period.
    const double startUs = static_cast<double>(clock.ms) * 1000;
    const double endUs = startUs + minutes * 60e6;
    double us = startUs + 1000;
    while (us < endUs) {
        const double rate =
            pulsesPerSecond * (1 + 0.2 * std::sin(2 * M_PI * (us - startUs) / 600e6));
        const double period = 1e6 / rate;
        for (const bool level : {true, false}) {
            const auto stamp = static_cast<std::int64_t>(us);
            clock.ms = stamp / 1000;
            feed.publishEdge({comEvCTS, level, stamp / 1000, stamp, true});
            us += period / 2;
        }
    }
    clock.ms = static_cast<std::int64_t>(endUs / 1000);
    feed.publishClosed();
    recorder.stop();
    return 0;
}

double peakRssMb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    bench::preferOffscreen();
    QApplication app(argc, argv);
    if (argc > 3 && QByteArray(argv[1]) == "--make")
        return make(QString::fromLocal8Bit(argv[2]), std::atoi(argv[3]));
    const int minutes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;

    QTemporaryDir folder;
    QElapsedTimer made;
    made.start();
    if (QProcess::execute(QCoreApplication::applicationFilePath(),
                          {QStringLiteral("--make"), folder.path(), QString::number(minutes)}) != 0)
        return 1;
    std::printf("recording of %d min made in %.1f s\n", minutes,
                static_cast<double>(made.nsecsElapsed()) / 1e9);

    QMdiArea area;
    area.resize(1400, 1000);
    area.show();

    // Opened all at once: the files read, the windows built, every edge played, the trend drawn.
    QElapsedTimer open;
    open.start();
    QString error;
    std::optional<replay::Recording> recording = replay::readRecording(folder.path(), &error);
    if (!recording) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    const double readS = static_cast<double>(open.nsecsElapsed()) / 1e9;
    const std::size_t edges = recording->edges.size();
    double openS = 0;
    std::int64_t points = 0;
    {
        replay::ReplayForm form(std::move(*recording), &area);
        form.show(&area);
        form.setPace(replay::Pace::AllAtOnce);
        form.play();
        QCoreApplication::processEvents(); // the chart's queued redraw
        openS = static_cast<double>(open.nsecsElapsed()) / 1e9;
        points = form.trend()->perPulsePoints().count();
        std::printf("opened all at once: %zu edges, %lld per-pulse points, %lld over 1 s; files "
                    "read in %.2f s, everything shown in %.2f s\n",
                    edges, static_cast<long long>(points),
                    static_cast<long long>(form.trend()->windowedPoints().count()), readS, openS);
    }

    // As fast as possible, on the window's own timer and the event loop.
    double fastS = 0;
    {
        recording = replay::readRecording(folder.path(), &error);
        replay::ReplayForm form(std::move(*recording), &area);
        form.show(&area);
        form.setPace(replay::Pace::Fastest);
        QElapsedTimer fast;
        fast.start();
        form.play();
        QEventLoop loop;
        QTimer done;
        QObject::connect(&done, &QTimer::timeout, &loop, [&] {
            if (!form.playing())
                loop.quit();
        });
        done.start(10);
        loop.exec();
        fastS = static_cast<double>(fast.nsecsElapsed()) / 1e9;
        std::printf("as fast as possible: %zu edges in %.2f s, %.1f million edges a minute\n",
                    edges, fastS, static_cast<double>(edges) / fastS * 60 / 1e6);
    }
    const double rss = peakRssMb();
    std::printf("peak memory (VmHWM): %.0f MB\n", rss);

    char measure[160];
    std::snprintf(measure, sizeof measure,
                  "replay: open %d min at 200 pulses/s (%zu edges), whole trend shown", minutes,
                  edges);
    bench::summary(measure, "< 2 s", "%.2f s", openS);
    bench::summary("replay: \"as fast as possible\"", ">= 10 million edges/min", "%.1f million/min",
                   static_cast<double>(edges) / fastS * 60 / 1e6);
    bench::summary("replay: peak memory with that recording", "< 200 MB", "%.0f MB", rss);
    return 0;
}
