// Recording at the serial window's hardest load: the simulated sensor box makes 50,000 edges a
// second for the window while its thread stalls 250 ms every second, once without recording and
// once recording into a folder. For the recorded run every edge the window counted must be in the
// edge file, in order; both runs report the pulses counted and the process's CPU, so the cost of
// recording is the difference. The writer's backlog (rows handed over but not yet on disk) shows
// whether the disk keeps up.
//
//   com_window_recording [seconds, default 30] [folder, default a temporary one]

#include "benchsupport.h"
#include "com/form2.h"
#include "platform/tickclock.h"
#include "record/recorder.h"
#include "windowload.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMdiArea>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <iterator>

using namespace diagnostika;
using bench::cpuSeconds;

namespace {

constexpr double edgesPerSecond = 50'000;

struct Result {
    std::int64_t made[lineCount] = {};
    std::int64_t counted[lineCount] = {};
    std::int64_t inFile[lineCount] = {}; // falling edges (the counted ones) per line
    std::int64_t rows = 0;
    bool ordered = true;
    double cpuPercent = 0;
    double maxBacklogMB = 0;
    double stopSeconds = 0; // closing the files at the end: the rest of the backlog written
};

void readEdgeFile(const QString& path, Result& r)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    file.readLine(); // the header
    // Each line's edges in order: their times never go back and their levels alternate. Edges of
    // different lines are stamped each at its own time, so two lines may interleave by a few
    // microseconds either way.
    std::int64_t previous[lineCount] = {INT64_MIN, INT64_MIN, INT64_MIN};
    QByteArray previousLevel[lineCount];
    while (!file.atEnd()) {
        const QList<QByteArray> fields = file.readLine().trimmed().split(',');
        if (fields.size() != 5)
            continue;
        ++r.rows;
        const int line = fields[2] == "CTS"   ? index(Line::CTS)
                         : fields[2] == "DSR" ? index(Line::DSR)
                                              : index(Line::CD);
        const std::int64_t us = fields[0].toLongLong();
        r.ordered = r.ordered && us >= previous[line] && fields[3] != previousLevel[line];
        previous[line] = us;
        previousLevel[line] = fields[3];
        if (fields[3] == "0")
            ++r.inFile[line];
    }
}

Result run(QMdiArea& area, int seconds, const QString& folder)
{
    const MonotonicClock clock;
    record::Recorder recorder(clock, QStringLiteral("bench"));
    Result r;
    QStringList files;
    const bench::WindowLoad load = bench::runSerialWindow(
        area, edgesPerSecond, seconds,
        [&](Form2& form) {
            recorder.addFeed(form.feed());
            QString error;
            if (!folder.isEmpty() && !recorder.start(folder, &error))
                std::fprintf(stderr, "cannot record: %s\n", qPrintable(error));
        },
        [&] {
            r.maxBacklogMB =
                std::max(r.maxBacklogMB, static_cast<double>(recorder.backlog()) / 1e6);
        },
        [&] {
            QElapsedTimer stopping;
            stopping.start();
            files = recorder.files();
            recorder.stop();
            r.stopSeconds = static_cast<double>(stopping.nsecsElapsed()) * 1e-9;
        });
    std::copy(std::begin(load.made), std::end(load.made), std::begin(r.made));
    std::copy(std::begin(load.counted), std::end(load.counted), std::begin(r.counted));
    r.cpuPercent = load.cpuPercent;
    for (const QString& f : files) {
        if (f.endsWith(QStringLiteral("_hrany.csv")))
            readEdgeFile(f, r);
    }
    return r;
}

// The recorder's own cost per edge, free of the machine's other load: a million edges published
// straight into a recording, the user-interface thread's CPU time for handing them over and the
// process's CPU time until they are on disk.
struct EdgeCost {
    double uiNs = 0;
    double totalNs = 0;
};

EdgeCost costPerEdge(const QString& folder)
{
    constexpr int edges = 1'000'000;
    const MonotonicClock clock;
    Feed feed(QStringLiteral("com"), QStringLiteral("cost"));
    record::Recorder recorder(clock, QStringLiteral("bench"));
    recorder.addFeed(&feed);
    QString error;
    recorder.start(folder, &error);
    feed.publishOpened();
    const std::int64_t startUs = clock.milliseconds() * 1000;
    const double ui = bench::threadCpuSeconds();
    const double process = cpuSeconds();
    for (int i = 0; i < edges; ++i)
        feed.publishEdge(
            {comEvCTS + i % 3, (i / 3) % 2 == 0, startUs / 1000, startUs + 20 * i, true});
    const double uiSeconds = bench::threadCpuSeconds() - ui;
    recorder.sync();
    const double processSeconds = cpuSeconds() - process;
    feed.publishClosed();
    recorder.stop();
    return {uiSeconds * 1e9 / edges, processSeconds * 1e9 / edges};
}

} // namespace

int main(int argc, char** argv)
{
    bench::preferOffscreen();
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;
    QTemporaryDir temporary;
    const QString folder = argc > 2 ? QString::fromLocal8Bit(argv[2]) : temporary.path();
    QMdiArea area;
    area.resize(560, 340);
    area.show();

    std::printf("serial window recording: %.0f edges/s for %d s, window thread stalled 250 ms each "
                "second, into %s\n",
                edgesPerSecond, seconds, qPrintable(folder));
    const Result plain = run(area, seconds, {});
    const Result recorded = run(area, seconds, folder);
    const char* names[lineCount] = {"CTS", "DSR", "CD"};
    std::printf("%5s %12s %12s %12s %12s %12s\n", "line", "pulses", "counted", "pulses(rec)",
                "counted(rec)", "in file");
    bool everyEdge = true;
    double worst = 100.0;
    for (int line = 0; line < lineCount; ++line) {
        std::printf("%5s %12lld %12lld %12lld %12lld %12lld\n", names[line],
                    static_cast<long long>(plain.made[line]),
                    static_cast<long long>(plain.counted[line]),
                    static_cast<long long>(recorded.made[line]),
                    static_cast<long long>(recorded.counted[line]),
                    static_cast<long long>(recorded.inFile[line]));
        everyEdge = everyEdge && recorded.inFile[line] == recorded.counted[line];
        if (recorded.made[line] > 0)
            worst = std::min(worst, 100.0 * static_cast<double>(recorded.counted[line]) /
                                        static_cast<double>(recorded.made[line]));
    }
    std::printf(
        "edge rows %lld, in order: %s; writer backlog at most %.1f MB; closing took %.2f s\n",
        static_cast<long long>(recorded.rows), recorded.ordered ? "yes" : "NO",
        recorded.maxBacklogMB, recorded.stopSeconds);
    std::printf("CPU: %.1f %% of a core without recording, %.1f %% recording\n", plain.cpuPercent,
                recorded.cpuPercent);
    bench::summary("serial window: recording at 50000 edges/s, stalled 250 ms/s",
                   "every counted edge in the file, in order", "%s, %s; %.2f %% of pulses counted",
                   everyEdge ? "all in file" : "EDGES MISSING",
                   recorded.ordered ? "in order" : "OUT OF ORDER", worst);
    const EdgeCost cost = costPerEdge(folder);
    std::printf("recorder's own cost: %.0f ns per edge on the window's thread, %.0f ns in all "
                "(with the writer thread): %.1f %% / %.1f %% of a core at 50000 edges/s\n",
                cost.uiNs, cost.totalNs, cost.uiNs * edgesPerSecond * 1e-7,
                cost.totalNs * edgesPerSecond * 1e-7);
    bench::summary("recording: CPU per edge, window's thread / all threads", "small",
                   "%.0f ns / %.0f ns (%.1f %% / %.1f %% of a core at 50000 edges/s)", cost.uiNs,
                   cost.totalNs, cost.uiNs * edgesPerSecond * 1e-7,
                   cost.totalNs * edgesPerSecond * 1e-7);
    bench::summary("serial window: CPU at 50000 edges/s, without / with recording",
                   "recording adds little", "%.1f %% / %.1f %% of a core", plain.cpuPercent,
                   recorded.cpuPercent);
    return everyEdge && recorded.ordered ? 0 : 1;
}
