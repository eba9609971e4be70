#pragma once
// The serial window's speed input, typed, for the windows that follow the shaft: which port and
// line the speed pulses come on, how many pulses a revolution gives, the interval the serial window
// counts them over, how faithfully the port captures them; every edge of that line with its
// stamps; and each speed the serial window counted, with the period its count really covered.
// The serial window publishes; a window that follows never reads the serial window's controls or
// setting texts, and the serial window never knows who follows.
//
// Everything is emitted on the UI thread, from the serial window's own handlers, in the order it
// happened.

#include "platform/seriallines.h"

#include <QMetaType>
#include <QObject>
#include <cstdint>
#include <functional>
#include <optional>

namespace diagnostika {

struct SpeedInputSettings {
    int commPort = 0;                          // 1 to 3 while a port is open, else 0
    std::optional<Line> line;                  // the line chosen in "vstup"
    std::optional<double> pulsesPerRevolution; // chosen in "snimace"
    int intervalMs = 0;                        // the counting interval chosen in "interval"
    std::optional<CaptureMode> captureMode;    // while a port is open

    // A port open, a line and pulses per revolution: the pulses make a speed.
    bool complete() const { return commPort > 0 && line && pulsesPerRevolution; }
    friend bool operator==(const SpeedInputSettings&, const SpeedInputSettings&) = default;
};

// One speed the serial window counted (its "otacky" after Timer1).
struct CountedSpeed {
    double speed = 0;           // min^-1, as shown
    std::int64_t coveredMs = 0; // how long the count really counted
    // Whether that was the interval the speed is shown for; when not (the first count after a
    // port is picked or the interval changed, or a tick held up), the speed is not the shaft's.
    bool wholeInterval = false;
};

// What the capture knows beyond its edges.
struct CaptureTiming {
    // The lines have been looked at up to here, and every edge before it published; none while no
    // port is open. See SerialLines::seenUntilUs.
    std::optional<std::int64_t> seenUntilUs;
    // How much two stamps' lateness may differ, in microseconds.
    std::int64_t stampUncertaintyUs = 0;
};

class SpeedInput : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // As last published; all empty while the serial window is closed.
    const SpeedInputSettings& settings() const { return settings_; }
    // Asked when needed, not published: the capture looks at its lines hundreds of times a second.
    CaptureTiming timing() const { return timing_ ? timing_() : CaptureTiming{}; }

    // For the serial window. Settings are told only when they differ from the last ones.
    void publishSettings(const SpeedInputSettings& settings);
    void publishEdge(const LineEvent& event) { Q_EMIT edge(event); }
    void publishCounted(const CountedSpeed& speed) { Q_EMIT counted(speed); }
    void setTiming(std::function<CaptureTiming()> source) { timing_ = std::move(source); }

Q_SIGNALS:
    void settingsChanged(const diagnostika::SpeedInputSettings& settings);
    // Every edge of the speed line, both ways, before the serial window counts it.
    void edge(const diagnostika::LineEvent& event);
    // After each Timer1 evaluation that showed a speed.
    void counted(const diagnostika::CountedSpeed& speed);

private:
    SpeedInputSettings settings_;
    std::function<CaptureTiming()> timing_;
};

} // namespace diagnostika

Q_DECLARE_METATYPE(diagnostika::SpeedInputSettings)
Q_DECLARE_METATYPE(diagnostika::CountedSpeed)
