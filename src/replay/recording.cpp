#include "recording.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <charconv>
#include <cstring>

namespace diagnostika::replay {
namespace {

constexpr std::string_view edgeHeader = "cas [us],datum_cas,linka,uroven,vlastny_cas";

QString name(const QString& path)
{
    return QFileInfo(path).fileName();
}

// One edge row: "<us>,<local time>,<line>,<0|1>,<0|1>".
std::optional<RecordedEdge> parseEdge(std::string_view row)
{
    RecordedEdge e;
    const auto [end, ec] = std::from_chars(row.data(), row.data() + row.size(), e.us);
    if (ec != std::errc() || end == row.data() + row.size() || *end != ',')
        return std::nullopt;
    row.remove_prefix(static_cast<std::size_t>(end - row.data()) + 1);
    const std::size_t time = row.find(',');
    if (time == std::string_view::npos)
        return std::nullopt;
    row.remove_prefix(time + 1);
    const std::size_t lineEnd = row.find(',');
    if (lineEnd == std::string_view::npos)
        return std::nullopt;
    const std::string_view line = row.substr(0, lineEnd);
    if (line == "CTS")
        e.line = Line::CTS;
    else if (line == "DSR")
        e.line = Line::DSR;
    else if (line == "CD")
        e.line = Line::CD;
    else
        return std::nullopt;
    row.remove_prefix(lineEnd + 1);
    if (row.size() != 3 || row[1] != ',' || (row[0] != '0' && row[0] != '1') ||
        (row[2] != '0' && row[2] != '1'))
        return std::nullopt;
    e.level = row[0] == '1';
    e.timed = row[2] == '1';
    return e;
}

std::uint32_t le32(const uchar* p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t{p[3]} << 24);
}
std::uint16_t le16(const uchar* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::optional<QJsonObject> readJson(const QString& path, QString* reason)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *reason = file.errorString();
        return std::nullopt;
    }
    QJsonParseError parsed;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &parsed);
    if (parsed.error != QJsonParseError::NoError) {
        *reason = QStringLiteral("metadáta sa nedajú prečítať (%1 pri znaku %2)")
                      .arg(parsed.errorString())
                      .arg(parsed.offset);
        return std::nullopt;
    }
    const QJsonObject meta = doc.object();
    if (meta.value(QStringLiteral("program")).toString() != u"diagnostika") {
        *reason = QStringLiteral("nie sú to metadáta záznamu programu Diagnostika");
        return std::nullopt;
    }
    return meta;
}

std::vector<RecordedSettings> settingsOf(const QJsonObject& meta)
{
    std::vector<RecordedSettings> out;
    for (const QJsonValue& v : meta.value(QStringLiteral("settings")).toArray()) {
        const QJsonObject o = v.toObject();
        RecordedSettings s;
        s.atS = o.value(QStringLiteral("time_s")).toDouble();
        const QJsonObject values = o.value(QStringLiteral("values")).toObject();
        for (auto it = values.begin(); it != values.end(); ++it)
            s.values[it.key()] = it.value().toString();
        out.push_back(std::move(s));
    }
    return out;
}

} // namespace

QString stopText(const FileStop& stop)
{
    if (stop.row <= 0)
        return QStringLiteral("%1: %2.").arg(stop.file, stop.reason);
    return QStringLiteral("%1 sa končí na riadku %2: %3.")
        .arg(stop.file)
        .arg(stop.row)
        .arg(stop.reason);
}

std::vector<RecordedEdge> readEdges(const QString& path, std::optional<FileStop>* stop)
{
    std::vector<RecordedEdge> edges;
    stop->reset();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *stop = FileStop{name(path), 0, file.errorString()};
        return edges;
    }
    // Read in pieces: an hour of edges is tens of megabytes that need not be held at once.
    constexpr qint64 piece = 1 << 20;
    // Rows are at least 40 bytes: one allocation holds them all.
    edges.reserve(static_cast<std::size_t>(file.size() / 40));
    QByteArray buffer;
    std::int64_t row = 0;
    for (;;) {
        const QByteArray more = file.read(piece);
        if (more.isEmpty()) {
            if (!buffer.isEmpty()) {
                *stop = FileStop{name(path), row + 1,
                                 QStringLiteral("riadok je neúplný (súbor je skrátený)")};
            } else if (row == 0) {
                *stop = FileStop{name(path), 0, QStringLiteral("súbor je prázdny")};
            }
            return edges;
        }
        buffer.append(more);
        const std::string_view text(buffer.constData(), static_cast<std::size_t>(buffer.size()));
        std::size_t at = 0;
        for (std::size_t end; (end = text.find('\n', at)) != std::string_view::npos;) {
            ++row;
            std::string_view line = text.substr(at, end - at);
            at = end + 1;
            if (!line.empty() && line.back() == '\r')
                line.remove_suffix(1);
            if (row == 1) {
                if (line != edgeHeader) {
                    *stop = FileStop{name(path), row, QStringLiteral("nie je to súbor hrán")};
                    return edges;
                }
                continue;
            }
            const std::optional<RecordedEdge> edge = parseEdge(line);
            if (!edge) {
                *stop = FileStop{name(path), row, QStringLiteral("riadok sa nedá prečítať")};
                return edges;
            }
            edges.push_back(*edge);
        }
        buffer.remove(0, static_cast<qsizetype>(at));
    }
}

std::optional<SampleFile> readWavLayout(const QString& path, std::optional<FileStop>* stop)
{
    stop->reset();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *stop = FileStop{name(path), 0, file.errorString()};
        return std::nullopt;
    }
    const auto notWav = [&](const char* why) {
        *stop = FileStop{name(path), 0, QString::fromUtf8(why)};
        return std::nullopt;
    };
    const QByteArray head = file.read(12);
    if (head.size() < 12 || !head.startsWith("RIFF") || head.mid(8, 4) != "WAVE")
        return notWav("nie je to súbor WAV");
    SampleFile out;
    out.path = path;
    bool format = false;
    qint64 at = 12;
    for (;;) {
        file.seek(at);
        const QByteArray chunk = file.read(8);
        if (chunk.size() < 8)
            return notWav("súbor WAV nemá dáta");
        const auto* p = reinterpret_cast<const uchar*>(chunk.constData());
        const std::uint32_t size = le32(p + 4);
        if (chunk.startsWith("fmt ")) {
            const QByteArray fmt = file.read(16);
            if (fmt.size() < 16)
                return notWav("súbor WAV je skrátený v hlavičke");
            const auto* f = reinterpret_cast<const uchar*>(fmt.constData());
            if (le16(f) != 3 || le16(f + 2) != 1 || le16(f + 14) != 32)
                return notWav("súbor WAV nie je mono s 32-bitovými vzorkami");
            out.rate = static_cast<int>(le32(f + 4));
            format = out.rate > 0;
        } else if (chunk.startsWith("data")) {
            if (!format)
                return notWav("súbor WAV nemá formát pred dátami");
            out.dataOffset = at + 8;
            const qint64 present = std::max<qint64>(0, file.size() - out.dataOffset) / 4;
            const qint64 claimed = size / 4;
            // The header is brought up to date every second, so a program that ended without
            // closing the file leaves a little more than it says: those samples are whole too.
            out.frames = present;
            if (present < claimed)
                *stop = FileStop{name(path), 0,
                                 QStringLiteral("súbor je skrátený, prehrá sa %1 z %2 vzoriek")
                                     .arg(present)
                                     .arg(claimed)};
            return out;
        }
        at += 8 + size + (size & 1);
    }
}

std::optional<Recording> readRecording(const QString& path, QString* error)
{
    const QFileInfo info(path);
    if (!info.exists()) {
        *error = QStringLiteral("Záznam %1 neexistuje.").arg(QDir::toNativeSeparators(path));
        return std::nullopt;
    }
    const QDir dir = info.isDir() ? QDir(path) : info.dir();
    // The metadata of every window in the folder, grouped by the recording they belong to.
    struct Meta {
        QString path;
        QJsonObject object;
    };
    std::map<QString, std::vector<Meta>> byRecording;
    QString chosen; // the recording to open
    if (!info.isDir()) {
        QString reason;
        const std::optional<QJsonObject> meta = readJson(path, &reason);
        if (!meta) {
            *error = QStringLiteral("Záznam %1 sa nedá otvoriť: %2.")
                         .arg(QDir::toNativeSeparators(path), reason);
            return std::nullopt;
        }
        chosen = meta->value(QStringLiteral("recordingStarted")).toString();
    }
    std::vector<FileStop> unreadable;
    for (const QFileInfo& f :
         dir.entryInfoList({QStringLiteral("*.json")}, QDir::Files, QDir::Name)) {
        QString reason;
        const std::optional<QJsonObject> meta = readJson(f.filePath(), &reason);
        if (!meta) {
            unreadable.push_back({f.fileName(), 0, reason});
            continue;
        }
        byRecording[meta->value(QStringLiteral("recordingStarted")).toString()].push_back(
            {f.filePath(), *meta});
    }
    if (chosen.isEmpty() && !byRecording.empty())
        chosen = byRecording.rbegin()->first; // ISO times: the newest sorts last
    const auto found = byRecording.find(chosen);
    Recording r;
    r.folder = dir.path();
    r.started = chosen;
    r.stops = unreadable;
    if (found != byRecording.end()) {
        // The newest opening of each window (names begin with the time), unless one was asked for.
        for (const Meta& m : found->second) {
            const QString window = m.object.value(QStringLiteral("window")).toString();
            QString& slot = window == u"com" ? r.comJson : r.vibJson;
            if (window != u"com" && window != u"vib")
                continue;
            if (info.isDir() || slot.isEmpty() || QFileInfo(slot) != info)
                slot = m.path;
        }
    }
    const auto objectOf = [&](const QString& p) {
        for (const Meta& m : found->second)
            if (m.path == p)
                return m.object;
        return QJsonObject();
    };
    std::optional<double> begin;
    double end = 0;
    const auto extend = [&](double from, double to) {
        begin = std::min(begin.value_or(from), from);
        end = std::max(end, to);
    };
    if (!r.comJson.isEmpty()) {
        const QJsonObject meta = objectOf(r.comJson);
        r.comSettings = settingsOf(meta);
        r.captureMode = meta.value(QStringLiteral("captureMode")).toString();
        const QString edges = meta.value(QStringLiteral("files"))
                                  .toObject()
                                  .value(QStringLiteral("edges"))
                                  .toString();
        const double started = meta.value(QStringLiteral("windowStarted_s")).toDouble();
        extend(started, started);
        if (edges.isEmpty()) {
            r.stops.push_back({name(r.comJson), 0, QStringLiteral("záznam nemá súbor hrán")});
        } else {
            std::optional<FileStop> stop;
            r.edges = readEdges(dir.filePath(edges), &stop);
            if (stop)
                r.stops.push_back(*stop);
            if (!r.edges.empty())
                extend(static_cast<double>(r.edges.front().us) / 1e6,
                       static_cast<double>(r.edges.back().us) / 1e6);
        }
    }
    if (!r.vibJson.isEmpty()) {
        const QJsonObject meta = objectOf(r.vibJson);
        r.vibSettings = settingsOf(meta);
        const double started = meta.value(QStringLiteral("windowStarted_s")).toDouble();
        extend(started, started);
        for (const QJsonValue& v : meta.value(QStringLiteral("samples")).toArray()) {
            const QJsonObject o = v.toObject();
            const QString file = dir.filePath(o.value(QStringLiteral("file")).toString());
            std::optional<FileStop> stop;
            std::optional<SampleFile> wav = readWavLayout(file, &stop);
            if (stop)
                r.stops.push_back(*stop);
            if (!wav)
                continue;
            if (wav->rate != o.value(QStringLiteral("rate_Hz")).toInt()) {
                r.stops.push_back(
                    {name(file), 0, QStringLiteral("vzorkovanie súboru nesúhlasí s metadátami")});
                continue;
            }
            wav->firstSampleS = o.value(QStringLiteral("firstSample_s")).toDouble();
            wav->fullScaleVolts = o.value(QStringLiteral("fullScale_V")).toDouble();
            wav->sensitivityMvPerG = o.value(QStringLiteral("sensitivity_mV_per_g")).toDouble();
            wav->lostBefore =
                static_cast<std::uint64_t>(o.value(QStringLiteral("lostBefore")).toDouble());
            for (const QJsonValue& g : o.value(QStringLiteral("gaps")).toArray()) {
                const auto at = static_cast<std::int64_t>(g[QStringLiteral("atSample")].toDouble());
                const auto lost = static_cast<std::int64_t>(g[QStringLiteral("lost")].toDouble());
                if (at >= 0 && lost > 0)
                    wav->gaps.emplace_back(at, lost);
            }
            extend(wav->firstSampleS,
                   wav->firstSampleS + static_cast<double>(wav->frames) / wav->rate);
            r.samples.push_back(*wav);
        }
    }
    if (r.comJson.isEmpty() && r.vibJson.isEmpty()) {
        *error = QStringLiteral("V priečinku %1 nie je záznam okna „Meranie COM“ ani „Vibrácie“.")
                     .arg(QDir::toNativeSeparators(dir.path()));
        for (const FileStop& s : r.stops)
            *error += QLatin1Char(' ') + stopText(s);
        return std::nullopt;
    }
    r.beginS = begin.value_or(0);
    r.endS = std::max(end, r.beginS);
    return r;
}

} // namespace diagnostika::replay
