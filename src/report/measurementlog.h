#pragma once
// What a report says about the whole measurement, gathered while it runs: each window's settings
// and every figure its readings carried (least, mean, greatest, last), and the serial window's
// speed by both methods, the counting one as the window showed it and the precise one from the
// pulses' stamps. It only listens to what the windows publish; it never reads a control.

#include "common/feed.h"
#include "common/speedinput.h"
#include "platform/tickclock.h"
#include "speed/precisespeed.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <cstdint>
#include <map>
#include <optional>

namespace diagnostika::report {

struct Statistic {
    std::int64_t count = 0;
    double sum = 0, least = 0, greatest = 0, last = 0;

    void add(double value);
    std::optional<double> mean() const
    {
        return count > 0 ? std::optional(sum / static_cast<double>(count)) : std::nullopt;
    }
};

// One window's measurement.
struct WindowLog {
    FeedSettings settings; // as last published
    // Per "event/name" ("Timer3/f"); a value that stands for the quantity its reading names (the
    // parallel port's) is kept per quantity: "Timer1/hodnota/<quantity>/<unit>".
    std::map<QString, Statistic> values;
    std::map<QString, QString> texts; // the last word each text value showed, per name
    bool everOpened = false;
};

class MeasurementLog : public QObject {
    Q_OBJECT
public:
    // `clock` is the tick clock the serial edges are stamped on.
    explicit MeasurementLog(const TickClock& clock, QObject* parent = nullptr);

    // Listens to a window's feed from now on.
    void addFeed(Feed* feed);
    // Listens to the serial window's speed input: the counted speeds, and the pulses for the
    // precise speed, taken at each count so that both methods are compared at the same moments.
    void followSpeed(SpeedInput* input);

    // Nothing for a window never opened.
    const WindowLog* window(const QString& source) const;
    // Counts over the interval the window showed them for (a count of another period is no speed).
    const Statistic& countedSpeed() const { return counted_; }
    const Statistic& preciseSpeed() const { return precise_; }

    // When the first window opened, and how long ago on the tick clock; none before.
    std::optional<QDateTime> started() const { return started_; }
    std::optional<std::int64_t> durationMs() const;

private:
    void take(const QString& source, const FeedReading& reading);
    void opened(const Feed* feed);

    const TickClock& clock_;
    std::map<QString, WindowLog> windows_;
    SpeedInput* speedInput_ = nullptr;
    SpeedInputSettings speedSettings_;
    speed::PreciseSpeed preciseSpeed_{1};
    Statistic counted_, precise_;
    std::optional<QDateTime> started_;
    std::optional<std::int64_t> startedMs_;
};

} // namespace diagnostika::report
