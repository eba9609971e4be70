#pragma once
// The serial lines: one COM port's handshake inputs CTS, DSR and CD, as pulse inputs. No data bytes
// are sent or received.
//
// A `SerialLines` object stands for the serial control a window owns: created with the window,
// destroyed with it (which closes the port). While a port is open, every edge on CTS, DSR or CD is
// delivered, in the order it happened, as one `lineChanged` signal on the thread that owns the
// object (the UI thread), carrying the new level and the tick-clock stamp taken when the edge was
// seen. Edges are never merged or dropped by this layer; where a driver cannot tell every edge, the
// port's `captureMode()` says so.

#include "line.h"

#include <QMetaType>
#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>

namespace diagnostika {

// Event codes of a line change, as the window's handler sees them.
enum CommEventCode : int {
    comEvCTS = 3,
    comEvDSR = 4,
    comEvCD = 5,
};

// The line whose change gives `commEvent`; nothing for any other code.
constexpr std::optional<Line> lineOfEvent(int commEvent)
{
    switch (commEvent) {
    case comEvCTS:
        return Line::CTS;
    case comEvDSR:
        return Line::DSR;
    case comEvCD:
        return Line::CD;
    default:
        return std::nullopt;
    }
}
constexpr int commEventOf(Line line)
{
    return line == Line::CTS ? comEvCTS : line == Line::DSR ? comEvDSR : comEvCD;
}

struct LineEvent {
    int commEvent = 0;        // comEvCTS, comEvDSR or comEvCD
    bool level = false;       // the line's level after the edge (true: active)
    std::int64_t stampMs = 0; // tick clock when the edge was seen
    // Monotonic microseconds when the edge was seen, for timing pulses finer than the tick clock.
    std::int64_t stampUs = 0;
    // Whether stampUs is this edge's own time. A reading that finds several edges of one line saw
    // only the last of them happen; the others carry that reading's stamp but are not timed.
    bool timed = false;
};

struct LineLevels {
    bool cts = false;
    bool dsr = false;
    bool cd = false;

    // Takes the level an edge carries; codes of no line change nothing.
    void apply(const LineEvent& event)
    {
        if (event.commEvent == comEvCTS)
            cts = event.level;
        else if (event.commEvent == comEvDSR)
            dsr = event.level;
        else if (event.commEvent == comEvCD)
            cd = event.level;
    }
};

// Why opening failed, or why an open port was lost.
struct SerialError {
    enum class Kind {
        InUse, // busy, held exclusively, or locked by another program (the "8002" case)
        Other, // no such device, no permission, not a serial port, ...
        Gone,  // the device went away while open (unplugged adapter)
    };
    Kind kind = Kind::Other;
    int commPort = 0;
    QString device; // the device path, e.g. /dev/ttyS0
    QString reason; // the system's reason, e.g. strerror(errno)
};

// How faithfully a port's edges are captured.
enum class CaptureMode {
    Counted, // the driver counts every change per line, and the counts are read (woken by the
             // driver, or by polling where it cannot wake): nothing the driver saw is lost
    Levels,  // no usable counters: one edge per level change seen at a wake; a pulse that comes
             // and goes between two wakes is missed
    Polled,  // no counters and no wait: levels read every millisecond; shorter pulses are missed
    Simulated,
};

class SerialLines : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~SerialLines() override = default;

    // Opens COM`commPort` (1 to 3). A port that is still open is closed first (as by close()).
    // Returns false and fills `error` when it fails; the port then stays closed. `error` may be
    // null.
    virtual bool open(int commPort, SerialError* error) = 0;
    // Closes the port; the watcher has stopped when this returns, and every edge seen up to then
    // has been delivered (lineChanged may be emitted from inside close()). Harmless when closed.
    // Destroying an open object closes it without delivering what is still queued, so a window
    // that wants the last edges calls close() before it tears its controls down.
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    virtual int commPort() const = 0;

    // Delivers at once every edge queued so far (lineChanged may be emitted from inside). Edges
    // reach the owner in batches a few milliseconds apart; a periodic evaluation calls this first
    // so that the edges seen before it belong to the period it ends.
    virtual void deliverPending() {}

    // The last known levels (CTSHolding, DSRHolding, CDHolding); all false while closed.
    virtual LineLevels levels() const = 0;
    virtual CaptureMode captureMode() const = 0;

    // The moment (monotonic microseconds, the scale of LineEvent::stampUs) up to which the lines
    // have been looked at, with every edge seen before it delivered; none while closed or before
    // the first look. Edges arrive in batches, so only this says how long a line has truly been
    // quiet: the time since the last edge delivered says as much about the batches as the line.
    virtual std::optional<std::int64_t> seenUntilUs() const = 0;
    // How much the lateness of one timed stamp after its edge may differ from another's, in
    // microseconds: the time between two stamps is uncertain by up to this.
    virtual std::int64_t stampUncertaintyUs() const = 0;

Q_SIGNALS:
    // One edge on one line, in the order the edges happened.
    void lineChanged(diagnostika::LineEvent event);
    // The open port's device went away; the port is closed now. Emitted once per loss.
    void portLost(diagnostika::SerialError error);
};

// Makes the serial control for a window. The backend factory picks the implementation.
class SerialLinesProvider {
public:
    virtual ~SerialLinesProvider() = default;
    virtual std::unique_ptr<SerialLines> create() = 0;
    // The device COM`commPort` opens, for messages.
    virtual QString devicePath(int commPort) const = 0;
};

} // namespace diagnostika

Q_DECLARE_METATYPE(diagnostika::LineEvent)
Q_DECLARE_METATYPE(diagnostika::SerialError)
