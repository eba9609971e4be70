#pragma once
// Recording with nobody at the screen, for as long as the program is left running: a new set of
// files every hour or every day, so that no file grows without bound; the folder's free space
// watched, the recording stopped before the disk is full and taken up again once there is room;
// and every message written to standard error and to the recording's log ("diagnostika.log" in
// the folder), since no one would press a box's OK.

#include "platform/tickclock.h"

#include <QFile>
#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>

class QDateTime;
class QTimer;

namespace diagnostika::record {

class Recorder;

class UnattendedRecording : public QObject {
    Q_OBJECT
public:
    enum class Split { None, Hour, Day };
    // Free bytes for an unprivileged writer on the file system holding `folder`; negative when
    // unknown.
    using FreeBytes = std::function<std::int64_t(const QString& folder)>;

    // Stops before less than this is left: room for the files' last rows and for other programs.
    static constexpr std::int64_t defaultReserveBytes = std::int64_t{512} << 20;
    static constexpr int checkEveryMs = 1000;

    // `clock` decides when a set of files is due (the recorder's clock).
    UnattendedRecording(Recorder& recorder, const TickClock& clock, Split split,
                        QObject* parent = nullptr);
    ~UnattendedRecording() override;

    void setReserveBytes(std::int64_t bytes) { reserveBytes_ = bytes; }
    void setFreeBytes(FreeBytes freeBytes) { freeBytes_ = std::move(freeBytes); }

    // Opens the log and starts recording into `folder`; false with the reason in `error`.
    bool start(const QString& folder, QString* error);
    // The check the timer runs every second: a new set of files when one is due, the free space.
    void check();
    // A message for the user: to standard error and, while there is one, to the log.
    void tell(const QString& text);

    QString logPath() const;
    // Sets of files begun so far.
    int sets() const { return sets_; }
    // Recording is paused because the disk is nearly full.
    bool waitingForSpace() const { return waitingForSpace_; }

private:
    void scheduleSplit();
    std::int64_t freeBytes() const;

    Recorder& recorder_;
    const TickClock& clock_;
    Split split_;
    QString folder_;
    QFile log_;
    QTimer* timer_ = nullptr;
    std::int64_t nextSplitMs_ = 0;
    std::int64_t reserveBytes_ = defaultReserveBytes;
    FreeBytes freeBytes_;
    int sets_ = 0;
    bool waitingForSpace_ = false;
};

// How far from `now` (local time) the next full hour or the next midnight is, in milliseconds;
// sets of files begin on the clock's boundaries, so a day's files hold that day.
std::int64_t msToNextBoundary(const QDateTime& now, UnattendedRecording::Split split);

} // namespace diagnostika::record
