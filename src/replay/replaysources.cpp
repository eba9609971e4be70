#include "replaysources.h"

#include <QFileInfo>
#include <algorithm>
#include <cmath>

namespace diagnostika::replay {

Timeline::Timeline(const Recording& recording, QObject* parent)
    : QObject(parent), recording_(recording),
      positionUs_(static_cast<std::int64_t>(std::floor(recording.beginS * 1e6)))
{
}

void Timeline::advanceTo(std::int64_t positionUs)
{
    if (positionUs <= positionUs_)
        return;
    positionUs_ = positionUs;
    Q_EMIT advanced();
}

ReplaySerialLines::ReplaySerialLines(const Timeline& timeline, QObject* parent)
    : SerialLines(parent), timeline_(timeline)
{
}

bool ReplaySerialLines::open(int commPort, SerialError* error)
{
    close();
    if (commPort < 1 || commPort > 3) {
        if (error)
            *error = {SerialError::Kind::Other, commPort, devicePathOf(commPort),
                      QStringLiteral("taký port záznam nemá")};
        return false;
    }
    commPort_ = commPort;
    const auto& edges = timeline_.recording().edges;
    const std::int64_t at = timeline_.positionUs();
    next_ = static_cast<std::size_t>(std::ranges::lower_bound(edges, at, {}, &RecordedEdge::us) -
                                     edges.begin());
    // Each line stood, until its next edge, at the level that edge leaves.
    levels_ = {};
    for (const Line line : allLines) {
        const auto first =
            std::find_if(edges.begin() + static_cast<std::ptrdiff_t>(next_), edges.end(),
                         [line](const auto& e) { return e.line == line; });
        if (first != edges.end())
            levels_.apply({commEventOf(line), !first->level, 0, 0, false});
    }
    advanced_ = connect(&timeline_, &Timeline::advanced, this, &ReplaySerialLines::deliverPending);
    return true;
}

QString ReplaySerialLines::devicePathOf(int commPort)
{
    return QStringLiteral("záznam COM%1").arg(commPort);
}

void ReplaySerialLines::close()
{
    if (!isOpen())
        return;
    deliverPending();
    disconnect(advanced_);
    commPort_ = 0;
    levels_ = {};
}

void ReplaySerialLines::deliverPending()
{
    const auto& edges = timeline_.recording().edges;
    const std::int64_t until = timeline_.positionUs();
    while (isOpen() && next_ < edges.size() && edges[next_].us <= until) {
        const RecordedEdge& e = edges[next_++];
        const std::int64_t us = Timeline::originUs + e.us;
        const LineEvent event{commEventOf(e.line), e.level, us / 1000, us, e.timed};
        levels_.apply(event);
        Q_EMIT lineChanged(event);
    }
}

CaptureMode ReplaySerialLines::captureMode() const
{
    const QString& mode = timeline_.recording().captureMode;
    if (mode == u"counted")
        return CaptureMode::Counted;
    if (mode == u"levels")
        return CaptureMode::Levels;
    if (mode == u"polled")
        return CaptureMode::Polled;
    return CaptureMode::Simulated;
}

std::optional<std::int64_t> ReplaySerialLines::seenUntilUs() const
{
    if (!isOpen())
        return std::nullopt;
    return timeline_.nowUs();
}

std::int64_t ReplaySerialLines::stampUncertaintyUs() const
{
    // The recording does not carry it; these are what each kind of capture gives live.
    switch (captureMode()) {
    case CaptureMode::Simulated:
        return 60;
    case CaptureMode::Counted:
    case CaptureMode::Levels:
        return 500;
    case CaptureMode::Polled:
        break;
    }
    return 1000;
}

std::unique_ptr<SerialLines> ReplaySerialLinesProvider::create()
{
    return std::make_unique<ReplaySerialLines>(timeline_);
}

QString ReplaySerialLinesProvider::devicePath(int commPort) const
{
    return ReplaySerialLines::devicePathOf(commPort);
}

ReplayVibrationInput::ReplayVibrationInput(const Timeline& timeline, QObject* parent)
    : VibrationInput(parent), timeline_(timeline)
{
}

bool ReplayVibrationInput::open(const VibrationSettings& settings, VibrationError* error)
{
    close();
    const auto& files = timeline_.recording().samples;
    if (settings.source != sourceId() || files.empty()) {
        if (error)
            *error = {VibrationError::Kind::Other, settings.source,
                      QStringLiteral("záznam nemá vzorky vibrácií")};
        return false;
    }
    settings_ = settings;
    settings_.rate = files.front().rate;
    settings_.channel = 0;
    open_ = true;
    told_ = false;
    lost_ = 0;
    file_.reset();
    // The first sample at or after the position.
    const double at = static_cast<double>(timeline_.positionUs()) / 1e6;
    fileIndex_ = 0;
    frame_ = 0;
    while (fileIndex_ < files.size()) {
        const SampleFile& f = files[fileIndex_];
        const auto first = static_cast<std::int64_t>(std::ceil((at - f.firstSampleS) * f.rate));
        if (first < f.frames) {
            frame_ = std::max<std::int64_t>(0, first);
            break;
        }
        ++fileIndex_;
    }
    advanced_ = connect(&timeline_, &Timeline::advanced, this, [this] {
        if (!told_ && due()) {
            told_ = true;
            Q_EMIT blocksReady();
        }
    });
    return true;
}

void ReplayVibrationInput::close()
{
    open_ = false;
    disconnect(advanced_);
    file_.reset();
}

VibrationScale ReplayVibrationInput::scale() const
{
    const auto& files = timeline_.recording().samples;
    if (files.empty() || files.front().fullScaleVolts <= 0 || files.front().sensitivityMvPerG <= 0)
        return {};
    return {files.front().fullScaleVolts, files.front().sensitivityMvPerG / 1000, true};
}

std::int64_t ReplayVibrationInput::framesDue(const SampleFile& f) const
{
    // Sample k is due once the position has passed its time.
    const double s = static_cast<double>(timeline_.positionUs()) / 1e6 - f.firstSampleS;
    return std::clamp<std::int64_t>(static_cast<std::int64_t>(std::floor(s * f.rate)) + 1, 0,
                                    f.frames);
}

bool ReplayVibrationInput::due() const
{
    const auto& files = timeline_.recording().samples;
    return open_ && fileIndex_ < files.size() && framesDue(files[fileIndex_]) > frame_;
}

std::vector<VibrationBlock> ReplayVibrationInput::takeBlocks()
{
    std::vector<VibrationBlock> blocks;
    told_ = false;
    const auto& files = timeline_.recording().samples;
    while (open_ && fileIndex_ < files.size()) {
        const SampleFile& f = files[fileIndex_];
        const std::int64_t due = framesDue(f);
        if (!file_) {
            file_ = std::make_unique<QFile>(f.path);
            if (!file_->open(QIODevice::ReadOnly)) {
                file_.reset();
                ++fileIndex_;
                frame_ = 0;
                continue;
            }
        }
        while (frame_ < due) {
            // The zeros that stand for samples lost live are lost again: the window never had
            // them, and a block after them starts at its own time.
            std::int64_t until = due;
            std::uint64_t lostHere = f.lostBefore;
            bool skipped = false;
            for (const auto& [at, lost] : f.gaps) {
                if (frame_ >= at && frame_ < at + lost) {
                    frame_ = std::min(at + lost, f.frames);
                    skipped = true;
                }
                if (at + lost <= frame_)
                    lostHere += static_cast<std::uint64_t>(lost);
                else if (at > frame_)
                    until = std::min(until, at);
            }
            lost_ = std::max(lost_, lostHere);
            if (skipped)
                continue;
            const std::int64_t n = std::min<std::int64_t>(blockFrames, until - frame_);
            VibrationBlock block;
            block.lostBefore = lost_;
            block.rate = f.rate;
            block.firstSampleUs =
                Timeline::originUs +
                std::llround(f.firstSampleS * 1e6 + static_cast<double>(frame_) * 1e6 / f.rate);
            block.samples.resize(static_cast<std::size_t>(n));
            file_->seek(f.dataOffset + frame_ * 4);
            const qint64 got =
                file_->read(reinterpret_cast<char*>(block.samples.data()), n * 4) / 4;
            if (got <= 0) {
                frame_ = f.frames;
                break;
            }
            block.samples.resize(static_cast<std::size_t>(got));
            frame_ += got;
            blocks.push_back(std::move(block));
        }
        if (frame_ < f.frames)
            break;
        file_.reset();
        ++fileIndex_;
        frame_ = 0;
    }
    return blocks;
}

std::vector<VibrationSource> ReplayVibrationInputProvider::sources()
{
    const auto& files = timeline_.recording().samples;
    if (files.empty())
        return {};
    return {{ReplayVibrationInput::sourceId(),
             QStringLiteral("Záznam: %1").arg(QFileInfo(files.front().path).fileName())}};
}

std::optional<VibrationCapabilities>
ReplayVibrationInputProvider::capabilities(const QString& source, VibrationError* error)
{
    const auto& files = timeline_.recording().samples;
    if (source != ReplayVibrationInput::sourceId() || files.empty()) {
        if (error)
            *error = {VibrationError::Kind::Other, source,
                      QStringLiteral("záznam nemá vzorky vibrácií")};
        return std::nullopt;
    }
    VibrationCapabilities caps;
    caps.rates = {files.front().rate};
    caps.channels = 1;
    caps.format = QStringLiteral("FLOAT_LE");
    caps.scale = ReplayVibrationInput(timeline_).scale();
    return caps;
}

std::unique_ptr<VibrationInput> ReplayVibrationInputProvider::create()
{
    return std::make_unique<ReplayVibrationInput>(timeline_);
}

} // namespace diagnostika::replay
