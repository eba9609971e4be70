#pragma once
// The measurement report's content: the header, then a section for each open window with the
// settings in force, the readings over the measurement, and its charts (as vectors) or traces (as
// pictures). The figures come from the measurement log and from typed values the windows hold;
// texts are Slovak and numbers in the locale's format.

#include "reportdocument.h"

#include <QDateTime>
#include <QLocale>
#include <QString>

namespace diagnostika {
class MeasurementForm;
class OrderForm;
class TrendForm;
class VibrationForm;
} // namespace diagnostika

namespace diagnostika::report {

class MeasurementLog;

// What the person measuring tells about the measurement.
struct Details {
    QString machine;
    QString place;
    QString person;
    QString note;
};

// The windows a report can cover; any may be missing. Only open ones get a section.
struct Windows {
    const MeasurementForm* serial = nullptr;
    const MeasurementForm* parallel = nullptr;
    const MeasurementForm* game = nullptr;
    const TrendForm* trend = nullptr;
    const VibrationForm* vibration = nullptr;
    const OrderForm* orders = nullptr;
};

struct Circumstances {
    QString version;
    bool simulated = false;
    QDateTime made;
    // Set when the windows are those of an opened recording: its folder and when it began (as its
    // metadata writes it).
    QString recording;
    QString recordingStarted;
};

Document buildReport(const Details& details, const Windows& windows, const MeasurementLog& log,
                     const Circumstances& circumstances, const QLocale& locale);

// "1 h 02 min 05 s", "3 min 20 s", "12 s".
QString durationText(std::int64_t ms);

} // namespace diagnostika::report
