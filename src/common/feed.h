#pragma once
// A measurement window's feed: what the window shows, published for whoever keeps or charts it (the
// recorder, the speed trend). The window never knows who listens.
//
// Every signal is emitted on the UI thread, synchronously from the window's own handlers, in the
// order things happened, so a subscriber sees a reading together with the state it came from. A
// window builds a reading only when someone is connected to `reading`; with nobody listening a
// feed costs a pointer test per handler.

#include "platform/seriallines.h"

#include <QMetaType>
#include <QObject>
#include <QString>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace diagnostika {

// One readout's value as the window shows it. `name` and `unit` are string literals: the name a
// plain ASCII key (the control's name, "otacky"), the unit as a person writes it ("min^-1"; empty
// for a count).
struct FeedValue {
    const char* name = "";
    const char* unit = "";
    std::optional<double> value; // empty when the readout shows no number
    QString text;                // a value that is a word, not a number (the quantity picked)
};

// One evaluation of the window: the readouts after the handler `event` ("Timer1", ...) ran.
struct FeedReading {
    const char* event = "";
    std::vector<FeedValue> values;
};

// One setting as the window holds it, in its own words ("CD", "1s", "4", "/dev/ttyS0").
struct FeedSetting {
    const char* name = "";
    QString value;

    friend bool operator==(const FeedSetting& a, const FeedSetting& b)
    {
        return QLatin1StringView(a.name) == QLatin1StringView(b.name) && a.value == b.value;
    }
};
using FeedSettings = std::vector<FeedSetting>;

// Raw samples as an input delivered them (vibration window): -1..1 of the input's full scale, with
// what a reader needs to place and scale them. Valid only during the signal.
struct FeedSamples {
    QString source;                 // the input's source id
    int channel = 0;                // of the source
    int rate = 0;                   // Hz
    std::int64_t firstSampleUs = 0; // CLOCK_MONOTONIC microseconds, the scale of LineEvent::stampUs
    // Samples the input lost since it was opened, up to the first of these.
    std::uint64_t lostBefore = 0;
    // Counts the input's openings: blocks of one opening are one stream (same rate, channel, lost
    // count going up); a new number starts a new stream.
    std::uint64_t opening = 0;
    double fullScaleVolts = 0;    // the volts a sample of 1 stands for; 0 when not set
    double sensitivityMvPerG = 0; // the sensor's; 0 when not set
    std::span<const float> samples;
};

// A finished spectrum (vibration window), in m/s^2 whatever unit the window shows, line k at
// k * lineSpacing Hz. Valid only during the signal.
struct FeedSpectrum {
    double lineSpacing = 0;
    bool peak = false; // amplitudes are peaks, not RMS
    int averaged = 0;  // frames in the average
    std::span<const double> amplitude;
};

class Feed : public QObject {
    Q_OBJECT
public:
    // `source` is the window's short name ("com", "lpt", "game"), `title` its caption.
    Feed(const QString& source, const QString& title, QObject* parent = nullptr);

    const QString& source() const { return source_; }
    const QString& title() const { return title_; }
    // From `opened` to `closed`.
    bool isOpen() const { return open_; }
    // The settings last published; empty before the window first opened.
    const FeedSettings& settings() const { return settings_; }

    // Whether anyone is connected to `reading`: the window builds a reading only then.
    bool readingHeard() const;
    // Whether anyone is connected to `samples` / `spectrum`.
    bool samplesHeard() const;
    bool spectrumHeard() const;

    // For the window. Settings are stored, and told only when they differ from the last ones.
    void publishOpened();
    void publishClosed();
    void publishReading(const FeedReading& reading) { Q_EMIT this->reading(reading); }
    void publishSettings(FeedSettings settings);
    void publishEdge(const LineEvent& event) { Q_EMIT edge(event); }
    void publishSamples(const FeedSamples& block) { Q_EMIT samples(block); }
    void publishSpectrum(const FeedSpectrum& spectrum) { Q_EMIT this->spectrum(spectrum); }

Q_SIGNALS:
    // The window has opened (its controls exist); `settingsChanged` follows at once.
    void opened();
    // The window has closed; nothing more comes until it opens again.
    void closed();
    // After each evaluation the window makes (a timer tick; see each window).
    void reading(const diagnostika::FeedReading& reading);
    // At opening and whenever a setting changes: every setting, as now.
    void settingsChanged(const diagnostika::FeedSettings& settings);
    // Serial window only: every edge the window's handler received while open, before it counts
    // it, with the backend's stamps (stampMs, stampUs, timed).
    void edge(const diagnostika::LineEvent& event);
    // Vibration window only: every block of samples the window took from its input while open, in
    // order. Direct connections only: the samples are not copied.
    void samples(const diagnostika::FeedSamples& block);
    // Vibration window only: a finished averaged spectrum, about every 10 s of samples.
    void spectrum(const diagnostika::FeedSpectrum& spectrum);

private:
    QString source_;
    QString title_;
    bool open_ = false;
    FeedSettings settings_;
};

} // namespace diagnostika

Q_DECLARE_METATYPE(diagnostika::FeedReading)
Q_DECLARE_METATYPE(diagnostika::FeedSettings)
