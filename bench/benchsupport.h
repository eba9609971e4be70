#pragma once
// What the benchmark programs share: the process's CPU time, and picking a list entry as a user
// does.

#include <QComboBox>
#include <QString>
#include <QWidget>
#include <ctime>

namespace diagnostika::bench {

// CPU seconds the whole process has used, over all its threads.
inline double cpuSeconds()
{
    timespec ts{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
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

} // namespace diagnostika::bench
