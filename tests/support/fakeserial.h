#pragma once
// Serial lines for tests: edges are injected with chosen levels and stamps and delivered at once,
// on the calling thread; opening can be made to fail in each way a real port fails; a port can be
// lost as when an adapter is unplugged.
//
//   test::FakeSerialLinesProvider serial;
//   serial.failOpen(2, SerialError::Kind::InUse);  // COM2 is in use from now on
//   ... the window creates its SerialLines through `serial` and opens COM1 ...
//   serial.current()->pulse(comEvCTS, 1000, 1250);  // CTS high at 1000 ms, low at 1250 ms
//   serial.current()->lose();                       // the adapter is pulled out
//   EXPECT_EQ(serial.log(), (QStringList{"create", "open 1", "close", "open 2 failed", ...}));
//
// The provider outlives the SerialLines it makes (a window destroys its own on close), so the
// log and the failures live in the provider.

#include "platform/seriallines.h"

#include <QPointer>
#include <QStringList>

#include <map>

namespace diagnostika::test {

class FakeSerialLinesProvider;

class FakeSerialLines final : public SerialLines {
    Q_OBJECT
public:
    explicit FakeSerialLines(FakeSerialLinesProvider* provider) : provider_(provider) {}
    ~FakeSerialLines() override;

    bool open(int commPort, SerialError* error) override;
    void close() override;
    bool isOpen() const override { return open_; }
    int commPort() const override { return commPort_; }
    LineLevels levels() const override { return levels_; }
    CaptureMode captureMode() const override { return mode_; }
    void setCaptureMode(CaptureMode mode) { mode_ = mode; }

    // Delivers one edge now (lineChanged, on this thread) and returns true; does nothing and
    // returns false while the port is closed, as a real port delivers nothing then. Any code may be
    // injected, also one other than comEvCTS/comEvDSR/comEvCD; only those three move levels().
    bool inject(int commEvent, bool level, std::int64_t stampMs)
    {
        if (!open_)
            return false;
        if (commEvent == comEvCTS)
            levels_.cts = level;
        else if (commEvent == comEvDSR)
            levels_.dsr = level;
        else if (commEvent == comEvCD)
            levels_.cd = level;
        Q_EMIT lineChanged(LineEvent{commEvent, level, stampMs});
        return true;
    }
    // One pulse: the line goes active at `riseMs` and inactive at `fallMs`.
    bool pulse(int commEvent, std::int64_t riseMs, std::int64_t fallMs)
    {
        return inject(commEvent, true, riseMs) && inject(commEvent, false, fallMs);
    }
    // The device goes away: the port closes and portLost is emitted (only if it was open).
    bool lose(const QString& reason = QStringLiteral("Input/output error"));

private:
    FakeSerialLinesProvider* provider_;
    bool open_ = false;
    int commPort_ = 0;
    LineLevels levels_;
    CaptureMode mode_ = CaptureMode::Counted;
};

class FakeSerialLinesProvider final : public SerialLinesProvider {
public:
    std::unique_ptr<SerialLines> create() override
    {
        auto lines = std::make_unique<FakeSerialLines>(this);
        current_ = lines.get();
        ++created_;
        log_ << QStringLiteral("create");
        return lines;
    }
    QString devicePath(int commPort) const override
    {
        return QStringLiteral("/dev/ttyFAKE%1").arg(commPort - 1);
    }

    // Every open of COM`commPort` fails this way until cleared. Reasons default to the system's
    // usual words for each kind.
    void failOpen(int commPort, SerialError::Kind kind, QString reason = {})
    {
        if (reason.isEmpty())
            reason = kind == SerialError::Kind::InUse ? QStringLiteral("Device or resource busy")
                                                      : QStringLiteral("No such file or directory");
        failures_[commPort] = {kind, std::move(reason)};
    }
    void clearFailures() { failures_.clear(); }

    // The SerialLines made last, while it exists.
    FakeSerialLines* current() const { return current_.data(); }
    int created() const { return created_; }
    // What happened, in order: "create", "open N", "open N failed", "close", "lost", "destroy".
    // "close" is logged only when an open port is closed.
    const QStringList& log() const { return log_; }
    void clearLog() { log_.clear(); }

private:
    friend class FakeSerialLines;
    struct Failure {
        SerialError::Kind kind;
        QString reason;
    };
    std::map<int, Failure> failures_;
    QPointer<FakeSerialLines> current_;
    int created_ = 0;
    QStringList log_;
};

inline FakeSerialLines::~FakeSerialLines()
{
    if (open_)
        provider_->log_ << QStringLiteral("close");
    provider_->log_ << QStringLiteral("destroy");
}

inline bool FakeSerialLines::open(int commPort, SerialError* error)
{
    close();
    commPort_ = commPort;
    const auto it = provider_->failures_.find(commPort);
    if (it != provider_->failures_.end()) {
        provider_->log_ << QStringLiteral("open %1 failed").arg(commPort);
        if (error) {
            error->kind = it->second.kind;
            error->commPort = commPort;
            error->device = provider_->devicePath(commPort);
            error->reason = it->second.reason;
        }
        return false;
    }
    provider_->log_ << QStringLiteral("open %1").arg(commPort);
    open_ = true;
    return true;
}

inline void FakeSerialLines::close()
{
    if (!open_)
        return;
    provider_->log_ << QStringLiteral("close");
    open_ = false;
    levels_ = LineLevels{};
}

inline bool FakeSerialLines::lose(const QString& reason)
{
    if (!open_)
        return false;
    open_ = false;
    levels_ = LineLevels{};
    provider_->log_ << QStringLiteral("lost");
    SerialError error;
    error.kind = SerialError::Kind::Gone;
    error.commPort = commPort_;
    error.device = provider_->devicePath(commPort_);
    error.reason = reason;
    Q_EMIT portLost(error);
    return true;
}

} // namespace diagnostika::test
