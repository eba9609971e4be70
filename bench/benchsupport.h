#pragma once
// What the benchmark programs share: the process's CPU time, picking a list entry as a user does,
// and the summary line that scripts/bench gathers into its table.

#include <QByteArray>
#include <QComboBox>
#include <QString>
#include <QWidget>
#include <cstdarg>
#include <cstdio>
#include <ctime>

namespace diagnostika::bench {

// Benchmarks draw no windows on screen: Qt's offscreen platform unless the caller chose another.
// Call before the application object exists.
inline void preferOffscreen()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

// CPU seconds the whole process has used, over all its threads.
inline double cpuSeconds()
{
    timespec ts{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// CPU seconds the calling thread has used.
inline double threadCpuSeconds()
{
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Chooses `item` in the list `list` under `client` and tells the window, as a click would.
inline void pick(QWidget* client, const char* list, const char* item)
{
    auto* combo = client->findChild<QComboBox*>(QString::fromLatin1(list));
    const int index = combo->findText(QString::fromLatin1(item));
    combo->setCurrentIndex(index);
    Q_EMIT combo->activated(index);
}

// One row of the summary table: "=> measure<TAB>measured<TAB>goal", the measured figure formatted
// as printf does.
inline void summary(const char* measure, const char* goal, const char* format, ...)
{
    char measured[160];
    va_list args;
    va_start(args, format);
    std::vsnprintf(measured, sizeof measured, format, args);
    va_end(args);
    std::printf("=> %s\t%s\t%s\n", measure, measured, goal);
}

} // namespace diagnostika::bench
