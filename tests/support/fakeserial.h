#pragma once
// Serial lines without a port: the test opens and closes ports through the window, injects edges
// with chosen stamps, makes opening fail in each way, and reads the log of what the window did.

#include "platform/seriallines.h"

#include <QPointer>
#include <QString>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace diagnostika::test {

class FakeSerialLinesProvider;

class FakeSerialLines final : public SerialLines {
public:
    explicit FakeSerialLines(FakeSerialLinesProvider& provider) : provider_(provider) {}
    ~FakeSerialLines() override;

    bool open(int commPort, SerialError* error) override;
    void close() override;
    bool isOpen() const override { return open_; }
    int commPort() const override { return commPort_; }
    LineLevels levels() const override { return levels_; }
    CaptureMode captureMode() const override { return CaptureMode::Counted; }
    // Edges are handed over as the test injects them: the lines are seen as far as the test says.
    std::optional<std::int64_t> seenUntilUs() const override
    {
        return open_ ? seenUntil : std::nullopt;
    }
    std::int64_t stampUncertaintyUs() const override { return 0; }
    std::optional<std::int64_t> seenUntil;

    // One edge, as the backend delivers it. Only an open port delivers edges; returns whether it
    // did.
    bool edge(int commEvent, bool level, std::int64_t stampMs)
    {
        if (!open_)
            return false;
        const LineEvent event{commEvent, level, stampMs};
        levels_.apply(event);
        Q_EMIT lineChanged(event);
        return true;
    }
    // One edge the port has seen but not yet handed over: it comes with the next deliverPending(),
    // as a real port's batch does.
    bool queueEdge(int commEvent, bool level, std::int64_t stampMs)
    {
        if (!open_)
            return false;
        pending_.push_back(LineEvent{commEvent, level, stampMs});
        return true;
    }
    void deliverPending() override
    {
        for (const LineEvent& event : std::exchange(pending_, {})) {
            levels_.apply(event);
            Q_EMIT lineChanged(event);
        }
    }
    // A whole pulse: the line rises at `startMs` and falls at `endMs`.
    bool pulse(int commEvent, std::int64_t startMs, std::int64_t endMs)
    {
        return edge(commEvent, true, startMs) && edge(commEvent, false, endMs);
    }
    // The device goes away while open.
    void unplug();

private:
    FakeSerialLinesProvider& provider_;
    bool open_ = false;
    int commPort_ = 0;
    LineLevels levels_;
    std::vector<LineEvent> pending_;
};

class FakeSerialLinesProvider final : public SerialLinesProvider {
public:
    std::unique_ptr<SerialLines> create() override
    {
        auto lines = std::make_unique<FakeSerialLines>(*this);
        last_ = lines.get();
        ++created;
        return lines;
    }
    QString devicePath(int commPort) const override
    {
        return QStringLiteral("/dev/ttyS%1").arg(commPort - 1);
    }

    // The serial control the window made last, while it exists.
    FakeSerialLines* lines() const { return last_; }

    // Opening COM`n` fails in this way from now on.
    void failOpen(int commPort, SerialError::Kind kind, const QString& reason = {})
    {
        failures[commPort] = {kind, reason};
    }
    void succeedOpen(int commPort) { failures.erase(commPort); }

    // What the serial controls were asked to do, in order: "open 1", "close", "destroyed", ...
    std::vector<std::string> log;
    int created = 0;
    struct Failure {
        SerialError::Kind kind;
        QString reason;
    };
    std::map<int, Failure> failures;

private:
    QPointer<FakeSerialLines> last_;
};

inline FakeSerialLines::~FakeSerialLines()
{
    // Destroying the control closes its port, as the real one does.
    if (open_)
        close();
    provider_.log.push_back("destroyed");
}

inline bool FakeSerialLines::open(int commPort, SerialError* error)
{
    provider_.log.push_back("open " + std::to_string(commPort));
    commPort_ = commPort;
    const auto failure = provider_.failures.find(commPort);
    if (failure != provider_.failures.end()) {
        if (error) {
            error->kind = failure->second.kind;
            error->commPort = commPort;
            error->device = provider_.devicePath(commPort);
            error->reason = failure->second.reason;
        }
        return false;
    }
    open_ = true;
    levels_ = {};
    return true;
}

inline void FakeSerialLines::close()
{
    provider_.log.push_back("close");
    open_ = false;
    levels_ = {};
}

inline void FakeSerialLines::unplug()
{
    if (!open_)
        return;
    open_ = false;
    levels_ = {};
    provider_.log.push_back("lost");
    Q_EMIT portLost(SerialError{SerialError::Kind::Gone, commPort_, provider_.devicePath(commPort_),
                                QStringLiteral("Input/output error")});
}

} // namespace diagnostika::test
