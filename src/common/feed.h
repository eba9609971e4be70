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
#include <optional>
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

    // For the window. Settings are stored, and told only when they differ from the last ones.
    void publishOpened();
    void publishClosed();
    void publishReading(const FeedReading& reading) { Q_EMIT this->reading(reading); }
    void publishSettings(FeedSettings settings);
    void publishEdge(const LineEvent& event) { Q_EMIT edge(event); }

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

private:
    QString source_;
    QString title_;
    bool open_ = false;
    FeedSettings settings_;
};

} // namespace diagnostika

Q_DECLARE_METATYPE(diagnostika::FeedReading)
Q_DECLARE_METATYPE(diagnostika::FeedSettings)
