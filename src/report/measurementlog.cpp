#include "measurementlog.h"

#include <algorithm>

namespace diagnostika::report {

void Statistic::add(double value)
{
    least = count == 0 ? value : std::min(least, value);
    greatest = count == 0 ? value : std::max(greatest, value);
    sum += value;
    last = value;
    ++count;
}

MeasurementLog::MeasurementLog(const TickClock& clock, QObject* parent)
    : QObject(parent), clock_(clock)
{
}

void MeasurementLog::addFeed(Feed* feed)
{
    const QString source = feed->source();
    connect(feed, &Feed::opened, this, [this, feed] { opened(feed); });
    connect(feed, &Feed::settingsChanged, this,
            [this, source](const FeedSettings& settings) { windows_[source].settings = settings; });
    connect(feed, &Feed::reading, this,
            [this, source](const FeedReading& reading) { take(source, reading); });
    if (feed->isOpen())
        opened(feed);
}

void MeasurementLog::opened(const Feed* feed)
{
    WindowLog& log = windows_[feed->source()];
    log.everOpened = true;
    log.settings = feed->settings();
    if (!started_) {
        started_ = QDateTime::currentDateTime();
        startedMs_ = clock_.milliseconds();
    }
}

void MeasurementLog::take(const QString& source, const FeedReading& reading)
{
    WindowLog& log = windows_[source];
    const QString event = QString::fromLatin1(reading.event);
    // The parallel port's value means what the quantity picked says; mixing two quantities'
    // values in one least and greatest would say nothing.
    QString quantity;
    for (const FeedValue& v : reading.values) {
        if (!v.text.isEmpty()) {
            log.texts[QString::fromLatin1(v.name)] = v.text;
            if (qstrcmp(v.name, "velicina") == 0 || qstrcmp(v.name, "jednotka") == 0)
                quantity += QLatin1Char('/') + v.text;
        }
    }
    for (const FeedValue& v : reading.values) {
        if (!v.value)
            continue;
        QString key = event + QLatin1Char('/') + QString::fromLatin1(v.name);
        if (qstrcmp(v.name, "hodnota") == 0)
            key += quantity;
        log.values[key].add(*v.value);
    }
}

void MeasurementLog::followSpeed(SpeedInput* input)
{
    if (!input || speedInput_ == input)
        return;
    speedInput_ = input;
    speedSettings_ = input->settings();
    const double perRevolution = speedSettings_.pulsesPerRevolution.value_or(0);
    preciseSpeed_ = speed::PreciseSpeed(perRevolution > 0 ? perRevolution : 1);
    connect(input, &SpeedInput::settingsChanged, this, [this](const SpeedInputSettings& s) {
        // Pulses of another port, line or pulses per revolution must not share a period.
        const double p = s.pulsesPerRevolution.value_or(0);
        if (s.commPort != speedSettings_.commPort || s.line != speedSettings_.line ||
            p != preciseSpeed_.pulsesPerRevolution())
            preciseSpeed_ = speed::PreciseSpeed(p > 0 ? p : 1);
        speedSettings_ = s;
    });
    connect(input, &SpeedInput::edge, this, [this](const LineEvent& event) {
        // A pulse ends at the change to inactive, as the serial window counts it.
        if (speedSettings_.complete() && !event.level)
            preciseSpeed_.addPulse(event.stampUs, event.timed);
    });
    connect(input, &SpeedInput::counted, this, [this](const CountedSpeed& counted) {
        if (!speedSettings_.complete())
            return;
        if (counted.wholeInterval)
            counted_.add(counted.speed);
        // Known as far as the capture has looked at the lines, as the speed trend takes it.
        const std::int64_t seen =
            speedInput_->timing().seenUntilUs.value_or(clock_.milliseconds() * 1000);
        if (const std::optional<double> v = preciseSpeed_.current(seen))
            precise_.add(*v);
    });
}

const WindowLog* MeasurementLog::window(const QString& source) const
{
    const auto it = windows_.find(source);
    return it != windows_.end() && it->second.everOpened ? &it->second : nullptr;
}

std::optional<std::int64_t> MeasurementLog::durationMs() const
{
    if (!startedMs_)
        return std::nullopt;
    return clock_.milliseconds() - *startedMs_;
}

} // namespace diagnostika::report
