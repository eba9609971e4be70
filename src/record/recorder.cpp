#include "recorder.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryFile>
#include <algorithm>
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
            !QFileInfo::exists(base + QStringLiteral(".json"))) {
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
    }

    window.connections = {
        connect(feed, &Feed::reading, this,
                [this, &window](const FeedReading& r) { onReading(window, r); }),
        connect(feed, &Feed::edge, this,
                [this, &window](const LineEvent& e) { onEdge(window, e); }),
        connect(feed, &Feed::settingsChanged, this,
                [this, &window](const FeedSettings& s) { onSettings(window, s); }),
    };
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
    if (window.readings >= 0) {
        writeMetadata(window, error);
        writer_->close(window.readings);
    }
    if (window.edges >= 0)
        writer_->close(window.edges);
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
            if (window->readings == failure.file || window->edges == failure.file) {
                end(feed, failure.reason);
                break;
            }
        }
    }
    if (!texts.isEmpty())
        Q_EMIT failed(texts.join(QLatin1Char('\n')));
}

} // namespace diagnostika::record
