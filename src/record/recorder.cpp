#include "recorder.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryFile>
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace diagnostika::record {
namespace {

QString settingText(const FeedSettings& settings, const char* name)
{
    for (const FeedSetting& s : settings) {
        if (QLatin1StringView(s.name) == QLatin1StringView(name))
            return s.value;
    }
    return {};
}

QString failureText(const QString& title, const QString& path, const QString& reason)
{
    return QStringLiteral("Záznam okna „%1“ sa zastavil: do súboru %2 sa nedá zapisovať (%3). "
                          "Súbory sú platné po posledný celý riadok, meranie pokračuje.")
        .arg(title.trimmed(), QDir::toNativeSeparators(path), reason);
}

constexpr const char* edgeHeader = "cas [us],datum_cas,linka,uroven,vlastny_cas\n";
constexpr const char* spectrumHeader = "cas [s],datum_cas,frekvencia [Hz],amplituda [m/s^2]\n";

// A gap of lost samples up to this long is filled with zeros, keeping the file's time base; a
// longer one starts a new file rather than fill the disk with silence.
constexpr double longestFilledGapS = 60.0;
// A WAV file counts its bytes in 32 bits; a new file starts well before that.
constexpr std::int64_t largestWavData = std::int64_t{4'000'000'000};

void appendLe(QByteArray& out, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.append(static_cast<char>((value >> (8 * i)) & 0xff));
}

// A mono WAV header for 32-bit float samples: RIFF, "fmt " (IEEE float, with its extension size),
// "fact" (the frame count, which non-PCM WAV files carry) and "data"; always 58 bytes.
QByteArray wavHeader(int rate, std::int64_t dataBytes)
{
    const auto data = static_cast<std::uint32_t>(dataBytes);
    QByteArray h;
    h.reserve(58);
    h.append("RIFF");
    appendLe(h, 50 + data, 4);
    h.append("WAVEfmt ");
    appendLe(h, 18, 4);
    appendLe(h, 3, 2); // WAVE_FORMAT_IEEE_FLOAT
    appendLe(h, 1, 2); // channels
    appendLe(h, static_cast<std::uint32_t>(rate), 4);
    appendLe(h, static_cast<std::uint32_t>(rate) * 4, 4); // bytes a second
    appendLe(h, 4, 2);                                    // bytes a frame
    appendLe(h, 32, 2);                                   // bits a sample
    appendLe(h, 0, 2);                                    // extension size
    h.append("fact");
    appendLe(h, 4, 4);
    appendLe(h, data / 4, 4);
    h.append("data");
    appendLe(h, data, 4);
    return h;
}

QByteArray littleEndianFloats(std::span<const float> samples)
{
    QByteArray bytes(static_cast<qsizetype>(samples.size_bytes()), Qt::Uninitialized);
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(bytes.data(), samples.data(), samples.size_bytes());
    } else {
        char* out = bytes.data();
        for (float v : samples) {
            const auto bits = std::bit_cast<std::uint32_t>(v);
            for (int i = 0; i < 4; ++i)
                *out++ = static_cast<char>((bits >> (8 * i)) & 0xff);
        }
    }
    return bytes;
}

} // namespace

Recorder::Recorder(const TickClock& clock, const QString& version, QObject* parent)
    : QObject(parent), clock_(clock), version_(version)
{
}

Recorder::~Recorder()
{
    stop();
}

void Recorder::addFeed(Feed* feed)
{
    feeds_.push_back(feed);
    connect(feed, &Feed::opened, this, [this, feed] {
        if (isRecording())
            begin(feed);
    });
    connect(feed, &Feed::closed, this, [this, feed] { end(feed); });
    connect(feed, &QObject::destroyed, this, [this, feed] {
        windows_.erase(feed);
        std::erase(feeds_, feed);
    });
}

bool Recorder::start(const QString& folder, QString* error)
{
    // The new folder is tried before anything changes: one that will not take the files leaves a
    // running recording going on where it is.
    const auto refuse = [this, error](QString text) {
        if (error) {
            if (isRecording())
                text += QStringLiteral(" Záznam pokračuje do priečinka %1.")
                            .arg(QDir::toNativeSeparators(folder_));
            *error = text;
        }
        return false;
    };
    const QString path = QDir::cleanPath(QDir(folder).absolutePath());
    // Made through the standard library, which keeps the system's reason that QDir drops.
    std::error_code made;
    std::filesystem::create_directories(
        std::filesystem::path(QFile::encodeName(path).toStdString()), made);
    if (!made && !QFileInfo(path).isDir())
        made = std::make_error_code(std::errc::not_a_directory);
    if (made)
        return refuse(
            QStringLiteral("Priečinok %1 sa nepodarilo vytvoriť: %2.")
                .arg(QDir::toNativeSeparators(path), QString::fromLocal8Bit(made.message())));
    // Writing is tried before the recording counts as started, so an unwritable folder is told now
    // rather than as a failure of the first window. The probe is a file of a new name, made
    // exclusively: nothing already in the folder, nor what a link there points to, is opened.
    {
        QTemporaryFile probe(QDir(path).filePath(QStringLiteral(".diagnostika-zapis-XXXXXX")));
        if (!probe.open())
            return refuse(QStringLiteral("Do priečinka %1 sa nedá zapisovať (%2).")
                              .arg(QDir::toNativeSeparators(path), probe.errorString()));
    }
    stop();
    folder_ = path;
    startMs_ = clock_.milliseconds();
    startWallMs_ = QDateTime::currentMSecsSinceEpoch();
    files_.clear();
    fileOwners_.clear();
    told_.clear();
    writer_ = std::make_unique<FileWriter>([this](const std::vector<FileWriter::Failure>& f) {
        QMetaObject::invokeMethod(
            this, [this, f] { onFailures(f); }, Qt::QueuedConnection);
    });
    Q_EMIT recordingChanged(true);
    for (Feed* feed : feeds_) {
        if (feed->isOpen())
            begin(feed);
    }
    return true;
}

void Recorder::stop()
{
    if (!writer_)
        return;
    std::vector<Feed*> recorded;
    for (const auto& [feed, window] : windows_)
        recorded.push_back(feed);
    for (Feed* feed : recorded)
        end(feed);
    // Writes what is left and closes the files; failures still come as queued reports.
    writer_.reset();
    Q_EMIT recordingChanged(false);
}

void Recorder::sync()
{
    if (writer_)
        writer_->sync();
    // The writer reports failures to this thread; take them now.
    QCoreApplication::sendPostedEvents(this);
}

std::int64_t Recorder::backlog() const
{
    return writer_ ? writer_->backlog() : 0;
}

int Recorder::createFile(Window& window, const QString& path)
{
    QString reason;
    const int number = writer_->create(path, &reason);
    if (number < 0) {
        const QString text = failureText(window.feed->title(), path, reason);
        told_.insert(window.base);
        end(window.feed);
        Q_EMIT failed(text);
        return -1;
    }
    fileOwners_[number] = {window.feed->title(), window.base};
    files_.push_back(path);
    return number;
}

bool Recorder::createEdgeFile(Window& window)
{
    window.edges = createFile(window, window.base + QStringLiteral("_hrany.csv"));
    if (window.edges < 0)
        return false;
    writer_->append(window.edges, edgeHeader);
    return true;
}

void Recorder::writeHeader(Window& window)
{
    window.header = true;
    QByteArray row("cas [s],datum_cas,udalost");
    for (const Column& c : window.columns) {
        row.append(',');
        row.append(c.name);
        if (*c.unit) {
            row.append(" [");
            row.append(c.unit);
            row.append(']');
        }
    }
    row.append('\n');
    writer_->append(window.readings, row);
}

void Recorder::begin(Feed* feed)
{
    if (windows_.count(feed))
        return;
    auto owned = std::make_unique<Window>();
    Window& window = *owned;
    window.feed = feed;
    window.startedMs = clock_.milliseconds();
    const QString stamp =
        QDateTime::fromMSecsSinceEpoch(startWallMs_ + (window.startedMs - startMs_))
            .toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss"));
    // A name no file of the set has yet: an existing file is never overwritten.
    const QDir dir(folder_);
    for (int n = 1;; ++n) {
        QString base = dir.filePath(stamp + QLatin1Char('_') + feed->source());
        if (n > 1)
            base += QLatin1Char('-') + QString::number(n);
        if (!QFileInfo::exists(base + QStringLiteral(".csv")) &&
            !QFileInfo::exists(base + QStringLiteral("_hrany.csv")) &&
            !QFileInfo::exists(base + QStringLiteral(".json")) &&
            !QFileInfo::exists(base + QStringLiteral(".wav")) &&
            !QFileInfo::exists(base + QStringLiteral("_spektrum.csv"))) {
            window.base = base;
            break;
        }
    }
    windows_[feed] = std::move(owned);
    // The files are made whole now: a recording cut short before the first reading, or a program
    // killed, still leaves files that say what they hold.
    const WindowFiles* known = windowFiles(feed->source());
    window.readings = createFile(window, window.base + QStringLiteral(".csv"));
    if (window.readings < 0)
        return;
    if (known) {
        window.columns = known->columns;
        writeHeader(window);
        if (known->edges && !createEdgeFile(window))
            return;
        if (known->samples) {
            window.spectra = createFile(window, window.base + QStringLiteral("_spektrum.csv"));
            if (window.spectra < 0)
                return;
            writer_->append(window.spectra, spectrumHeader);
        }
    }

    window.connections = {
        connect(feed, &Feed::reading, this,
                [this, &window](const FeedReading& r) { onReading(window, r); }),
        connect(feed, &Feed::edge, this,
                [this, &window](const LineEvent& e) { onEdge(window, e); }),
        connect(feed, &Feed::settingsChanged, this,
                [this, &window](const FeedSettings& s) { onSettings(window, s); }),
    };
    if (window.spectra >= 0) {
        window.connections.push_back(
            connect(feed, &Feed::samples, this,
                    [this, &window](const FeedSamples& b) { onSamples(window, b); }));
        window.connections.push_back(
            connect(feed, &Feed::spectrum, this,
                    [this, &window](const FeedSpectrum& s) { onSpectrum(window, s); }));
    }
    if (feed->settings().empty())
        writeMetadata(window);
    else
        onSettings(window, feed->settings());
}

void Recorder::end(Feed* feed, const QString& error)
{
    const auto found = windows_.find(feed);
    if (found == windows_.end())
        return;
    Window& window = *found->second;
    for (const QMetaObject::Connection& c : window.connections)
        disconnect(c);
    closeSampleFile(window);
    if (window.readings >= 0) {
        writeMetadata(window, error);
        writer_->close(window.readings);
    }
    for (const int file : {window.edges, window.spectra}) {
        if (file >= 0)
            writer_->close(file);
    }
    windows_.erase(found);
}

void Recorder::onReading(Window& window, const FeedReading& reading)
{
    const std::int64_t now = clock_.milliseconds();
    if (!window.header) {
        for (const FeedValue& v : reading.values)
            window.columns.push_back({v.name, v.unit});
        writeHeader(window);
    }
    QByteArray row;
    appendNumber(row, static_cast<double>(now - startMs_) / 1000.0);
    row.append(',');
    window.timeText.append(row, startWallMs_ + (now - startMs_));
    row.append(',');
    row.append(reading.event);
    // Each column takes the value of its name, found in its own place when the reading has the
    // columns' order; a value the reading lacks leaves its cell empty.
    std::size_t matched = 0;
    for (std::size_t i = 0; i < window.columns.size(); ++i) {
        const QLatin1StringView name(window.columns[i].name);
        const auto named = [&name](const FeedValue& v) {
            return QLatin1StringView(v.name) == name;
        };
        const FeedValue* value = nullptr;
        if (i < reading.values.size() && named(reading.values[i]))
            value = &reading.values[i];
        else if (const auto found = std::ranges::find_if(reading.values, named);
                 found != reading.values.end())
            value = &*found;
        row.append(',');
        if (!value)
            continue;
        ++matched;
        if (value->value)
            appendNumber(row, value->value);
        else
            appendField(row, value->text);
    }
    row.append('\n');
    if (matched < reading.values.size() && !window.strayTold) {
        window.strayTold = true;
        qWarning("The recording of window %s has no column for some of its values; they are not "
                 "recorded.",
                 qPrintable(window.feed->source()));
    }
    writer_->append(window.readings, row);
}

void Recorder::onEdge(Window& window, const LineEvent& event)
{
    if (window.edges < 0) {
        if (!createEdgeFile(window))
            return;
        // The metadata lists the new file at once, not only when the window's recording ends.
        writeMetadata(window);
    }
    // Until a backend stamps edges in microseconds, the tick clock's stamp stands for it.
    const std::int64_t stampUs = event.stampUs != 0 ? event.stampUs : event.stampMs * 1000;
    const std::int64_t sinceStartUs = stampUs - startMs_ * 1000;
    QByteArray row;
    row.reserve(64);
    appendInteger(row, sinceStartUs);
    row.append(',');
    window.timeText.append(row, startWallMs_ + sinceStartUs / 1000);
    row.append(',');
    const std::optional<Line> line = lineOfEvent(event.commEvent);
    row.append(line ? lineName(*line) : "");
    row.append(event.level ? ",1," : ",0,");
    row.append(event.timed ? '1' : '0');
    row.append('\n');
    writer_->append(window.edges, row);
}

QJsonObject Recorder::sampleFileMeta(const Window::SampleFile& file)
{
    QJsonObject meta = file.meta;
    meta.insert(QStringLiteral("samples"), static_cast<double>(file.frames));
    meta.insert(QStringLiteral("gaps"), file.gaps);
    return meta;
}

bool Recorder::startSampleFile(Window& window, const FeedSamples& block)
{
    closeSampleFile(window);
    const int n = static_cast<int>(window.sampleFiles.size()) + 1;
    const QString path =
        window.base + (n > 1 ? QStringLiteral("-%1.wav").arg(n) : QStringLiteral(".wav"));
    // Written by the writer thread as a framed file, not through libsndfile: the user-interface
    // thread never touches the disk, and the header, brought up to date every second, keeps a
    // file cut short by a crash readable to its last second.
    const int rate = block.rate;
    QString reason;
    const int file = writer_->createFramed(
        path, sizeof(float), [rate](std::int64_t bytes) { return wavHeader(rate, bytes); },
        &reason);
    if (file < 0) {
        const QString text = failureText(window.feed->title(), path, reason);
        told_.insert(window.base);
        end(window.feed);
        Q_EMIT failed(text);
        return false;
    }
    fileOwners_[file] = {window.feed->title(), window.base};
    files_.push_back(path);
    Window::SampleFile& current = window.samples;
    current = {};
    current.file = file;
    current.path = path;
    current.opening = block.opening;
    current.rate = rate;
    current.lostBefore = block.lostBefore;
    const double sinceStartUs = static_cast<double>(block.firstSampleUs - startMs_ * 1000);
    current.meta = QJsonObject{
        {QStringLiteral("file"), QFileInfo(path).fileName()},
        {QStringLiteral("format"), QStringLiteral("WAV, mono, 32-bit float, -1..1 of full scale")},
        {QStringLiteral("rate_Hz"), rate},
        {QStringLiteral("source"), block.source},
        {QStringLiteral("channel"), block.channel},
        // The monotonic clock's microseconds, the scale of the edges' stamps, and the same from
        // the start of the recording.
        {QStringLiteral("firstSample_us"), static_cast<double>(block.firstSampleUs)},
        {QStringLiteral("firstSample_s"), sinceStartUs / 1e6},
        {QStringLiteral("firstSampleLocalTime"),
         isoWithOffset(QDateTime::fromMSecsSinceEpoch(
             startWallMs_ + static_cast<std::int64_t>(std::floor(sinceStartUs / 1000))))},
        // Lost by the input before the first sample of this file, since it was opened.
        {QStringLiteral("lostBefore"), static_cast<double>(block.lostBefore)},
        {QStringLiteral("fullScale_V"), block.fullScaleVolts},
        {QStringLiteral("sensitivity_mV_per_g"), block.sensitivityMvPerG},
        {QStringLiteral("lostSamples"),
         QStringLiteral("filled with zeros in place; each gap is listed under gaps")},
    };
    return true;
}

void Recorder::closeSampleFile(Window& window)
{
    Window::SampleFile& current = window.samples;
    if (current.file < 0)
        return;
    writer_->close(current.file);
    window.sampleFiles.append(sampleFileMeta(current));
    current = {};
}

void Recorder::onSamples(Window& window, const FeedSamples& block)
{
    Window::SampleFile& current = window.samples;
    const auto frames = static_cast<std::int64_t>(block.samples.size());
    std::int64_t gap = 0;
    if (current.file >= 0 && block.opening == current.opening && block.rate == current.rate &&
        block.lostBefore >= current.lostBefore)
        gap = static_cast<std::int64_t>(block.lostBefore - current.lostBefore);
    // A new opening of the input (another rate, channel or source), a gap too long to fill, or a
    // file near the WAV's size limit: a new file.
    const bool fresh = current.file < 0 || block.opening != current.opening ||
                       block.rate != current.rate || block.lostBefore < current.lostBefore ||
                       static_cast<double>(gap) > longestFilledGapS * block.rate ||
                       (current.frames + gap + frames) * 4 > largestWavData;
    if (fresh) {
        if (!startSampleFile(window, block))
            return;
        writeMetadata(window);
        gap = 0;
    }
    if (gap > 0) {
        window.samples.gaps.append(QJsonObject{
            {QStringLiteral("atSample"), static_cast<double>(window.samples.frames)},
            {QStringLiteral("lost"), static_cast<double>(gap)},
        });
        writer_->append(window.samples.file, QByteArray(static_cast<qsizetype>(gap * 4), '\0'));
        window.samples.frames += gap;
        window.samples.lostBefore = block.lostBefore;
        writeMetadata(window);
    }
    writer_->append(window.samples.file, littleEndianFloats(block.samples));
    window.samples.frames += frames;
}

void Recorder::onSpectrum(Window& window, const FeedSpectrum& spectrum)
{
    const std::int64_t now = clock_.milliseconds();
    QByteArray time;
    appendNumber(time, static_cast<double>(now - startMs_) / 1000.0);
    time.append(',');
    window.timeText.append(time, startWallMs_ + (now - startMs_));
    time.append(',');
    QByteArray rows;
    rows.reserve(static_cast<qsizetype>(spectrum.amplitude.size()) * (time.size() + 24));
    for (std::size_t line = 0; line < spectrum.amplitude.size(); ++line) {
        rows.append(time);
        appendNumber(rows, static_cast<double>(line) * spectrum.lineSpacing);
        rows.append(',');
        appendNumber(rows, spectrum.amplitude[line]);
        rows.append('\n');
    }
    writer_->append(window.spectra, rows);
}

void Recorder::onSettings(Window& window, const FeedSettings& settings)
{
    const std::int64_t now = clock_.milliseconds();
    QJsonObject values;
    for (const FeedSetting& s : settings)
        values.insert(QLatin1StringView(s.name), s.value);
    window.settings.append(QJsonObject{
        {QStringLiteral("time_s"), static_cast<double>(now - startMs_) / 1000.0},
        {QStringLiteral("localTime"),
         isoWithOffset(QDateTime::fromMSecsSinceEpoch(startWallMs_ + (now - startMs_)))},
        {QStringLiteral("values"), values},
    });
    writeMetadata(window);
}

void Recorder::writeMetadata(const Window& window, const QString& error)
{
    const FeedSettings& latest = window.feed->settings();
    QJsonObject files{
        {QStringLiteral("readings"), QFileInfo(window.base + QStringLiteral(".csv")).fileName()}};
    if (window.edges >= 0)
        files.insert(QStringLiteral("edges"),
                     QFileInfo(window.base + QStringLiteral("_hrany.csv")).fileName());
    if (window.spectra >= 0)
        files.insert(QStringLiteral("spectra"),
                     QFileInfo(window.base + QStringLiteral("_spektrum.csv")).fileName());
    QJsonArray samples = window.sampleFiles;
    if (window.samples.file >= 0)
        samples.append(sampleFileMeta(window.samples));
    QJsonObject meta{
        {QStringLiteral("program"), QStringLiteral("diagnostika")},
        {QStringLiteral("version"), version_},
        {QStringLiteral("window"), window.feed->source()},
        {QStringLiteral("title"), window.feed->title().trimmed()},
        {QStringLiteral("recordingStarted"),
         isoWithOffset(QDateTime::fromMSecsSinceEpoch(startWallMs_))},
        {QStringLiteral("windowStarted_s"),
         static_cast<double>(window.startedMs - startMs_) / 1000.0},
        {QStringLiteral("files"), files},
        {QStringLiteral("settings"), window.settings},
    };
    if (window.spectra >= 0)
        meta.insert(QStringLiteral("samples"), samples);
    // The port as it stands now, for the windows that have one.
    for (const char* name : {"port", "device", "captureMode"}) {
        const QString value = settingText(latest, name);
        if (!value.isEmpty())
            meta.insert(QLatin1StringView(name), value);
    }
    if (!error.isEmpty())
        meta.insert(QStringLiteral("error"), error);
    writer_->replace(window.readings, window.base + QStringLiteral(".json"),
                     QJsonDocument(meta).toJson(QJsonDocument::Indented));
}

void Recorder::onFailures(const std::vector<FileWriter::Failure>& failures)
{
    QStringList texts;
    for (const FileWriter::Failure& failure : failures) {
        const auto owner = fileOwners_.find(failure.file);
        const QString title = owner != fileOwners_.end() ? owner->second.first : QString();
        if (!told_.insert(owner != fileOwners_.end() ? owner->second.second : failure.path).second)
            continue;
        texts.append(failureText(title, failure.path, failure.reason));
        for (const auto& [feed, window] : windows_) {
            if (window->readings == failure.file || window->edges == failure.file ||
                window->spectra == failure.file || window->samples.file == failure.file) {
                end(feed, failure.reason);
                break;
            }
        }
    }
    if (!texts.isEmpty())
        Q_EMIT failed(texts.join(QLatin1Char('\n')));
}

} // namespace diagnostika::record
