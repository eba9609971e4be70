#pragma once
// Sources that play a recording back through the interfaces the hardware uses: serial lines that
// deliver the recorded edges, and a vibration input that delivers the recorded samples, both up to
// the timeline's position. The windows on top of them cannot tell them from the device or the
// simulator.
//
// Stamps: the recording's start stands at `Timeline::originUs` on the monotonic scale, so an edge
// recorded at t µs arrives stamped origin + t, and the replay clock reads the position on the same
// scale. Differences between stamps, which is all the windows measure, are those recorded.

#include "platform/seriallines.h"
#include "platform/tickclock.h"
#include "platform/vibrationinput.h"
#include "recording.h"

#include <QFile>
#include <QObject>
#include <memory>

namespace diagnostika::replay {

class Timeline : public QObject {
    Q_OBJECT
public:
    static constexpr std::int64_t originUs = 1'000'000'000;

    explicit Timeline(const Recording& recording, QObject* parent = nullptr);
    const Recording& recording() const { return recording_; }

    // Microseconds from the recording's start.
    std::int64_t positionUs() const { return positionUs_; }
    // The position on the monotonic scale the sources stamp with.
    std::int64_t nowUs() const { return originUs + positionUs_; }
    // Moves forward (never back) and lets the sources deliver what is due.
    void advanceTo(std::int64_t positionUs);

Q_SIGNALS:
    void advanced();

private:
    const Recording& recording_;
    std::int64_t positionUs_ = 0;
};

// The tick clock at the timeline's position.
class ReplayClock final : public TickClock {
public:
    explicit ReplayClock(const Timeline& timeline) : timeline_(timeline) {}
    std::int64_t milliseconds() const override { return timeline_.nowUs() / 1000; }

private:
    const Timeline& timeline_;
};

class ReplaySerialLines final : public SerialLines {
    Q_OBJECT
public:
    explicit ReplaySerialLines(const Timeline& timeline, QObject* parent = nullptr);

    // Any port opens the recorded one: the recording holds one port's lines. Edges recorded
    // before the position at opening are not delivered, as a port opened late sees none of them.
    bool open(int commPort, SerialError* error) override;
    void close() override;
    bool isOpen() const override { return commPort_ > 0; }
    int commPort() const override { return commPort_; }
    void deliverPending() override;
    LineLevels levels() const override { return levels_; }
    CaptureMode captureMode() const override;
    std::optional<std::int64_t> seenUntilUs() const override;
    std::int64_t stampUncertaintyUs() const override;

    // What a port of the replay is called in messages.
    static QString devicePathOf(int commPort);

private:
    const Timeline& timeline_;
    int commPort_ = 0;
    std::size_t next_ = 0;
    LineLevels levels_;
    QMetaObject::Connection advanced_;
};

class ReplaySerialLinesProvider final : public SerialLinesProvider {
public:
    explicit ReplaySerialLinesProvider(const Timeline& timeline) : timeline_(timeline) {}
    std::unique_ptr<SerialLines> create() override;
    QString devicePath(int commPort) const override;

private:
    const Timeline& timeline_;
};

class ReplayVibrationInput final : public VibrationInput {
    Q_OBJECT
public:
    static constexpr int blockFrames = 4'800; // at most, per block handed over

    explicit ReplayVibrationInput(const Timeline& timeline, QObject* parent = nullptr);
    static QString sourceId() { return QStringLiteral("zaznam"); }

    // Starts at the first sample at or after the position.
    bool open(const VibrationSettings& settings, VibrationError* error) override;
    void close() override;
    bool isOpen() const override { return open_; }
    VibrationSettings settings() const override { return settings_; }
    VibrationScale scale() const override;
    std::vector<VibrationBlock> takeBlocks() override;
    std::uint64_t lostSamples() const override { return lost_; }

private:
    bool due() const;
    std::int64_t framesDue(const SampleFile& f) const;

    const Timeline& timeline_;
    VibrationSettings settings_;
    bool open_ = false;
    bool told_ = false;
    std::size_t fileIndex_ = 0;
    std::int64_t frame_ = 0; // the next frame of that file
    std::uint64_t lost_ = 0; // since opening, as the input counted them live
    std::unique_ptr<QFile> file_;
    QMetaObject::Connection advanced_;
};

class ReplayVibrationInputProvider final : public VibrationInputProvider {
public:
    explicit ReplayVibrationInputProvider(const Timeline& timeline) : timeline_(timeline) {}
    std::vector<VibrationSource> sources() override;
    std::optional<VibrationCapabilities> capabilities(const QString& source,
                                                      VibrationError* error) override;
    std::unique_ptr<VibrationInput> create() override;

private:
    const Timeline& timeline_;
};

} // namespace diagnostika::replay
