#include "messages.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>

namespace diagnostika::publish {
namespace {

// The shortest text that reads back as the same double; never a locale's decimal comma.
QByteArray number(double v)
{
    return QByteArray::number(v, 'g', QLocale::FloatingPointShortest);
}

} // namespace

QByteArray stationTopic(const QString& station)
{
    return "diagnostika/" + station.toUtf8();
}

QByteArray statusTopic(const QString& station)
{
    return stationTopic(station) + "/status";
}

QByteArray influxKey(const QString& text)
{
    QByteArray out;
    for (const char c : text.toUtf8()) {
        if (c == ',' || c == '=' || c == ' ')
            out.append('\\');
        out.append(c);
    }
    return out;
}

QByteArray influxString(const QString& text)
{
    QByteArray out("\"");
    for (const char c : text.toUtf8()) {
        if (c == '"' || c == '\\')
            out.append('\\');
        out.append(c);
    }
    out.append('"');
    return out;
}

std::vector<Message> readingMessages(const QString& station, const QString& window,
                                     const FeedReading& reading, std::int64_t wallMs,
                                     std::uint64_t sequence, bool influx)
{
    const QByteArray base = stationTopic(station) + '/' + window.toUtf8();
    std::vector<Message> out;
    out.reserve(reading.values.size() + 2);
    QJsonObject values;
    QByteArray fields;
    for (const FeedValue& v : reading.values) {
        QJsonObject entry;
        QByteArray plain;
        QByteArray field;
        const bool finite = v.value && std::isfinite(*v.value);
        if (finite) {
            entry[QStringLiteral("value")] = *v.value;
            plain = number(*v.value);
            field = plain;
        } else if (!v.text.isEmpty()) {
            entry[QStringLiteral("value")] = v.text;
            plain = v.text.toUtf8();
            field = influxString(v.text);
        } else {
            entry[QStringLiteral("value")] = QJsonValue::Null;
        }
        if (*v.unit)
            entry[QStringLiteral("unit")] = QString::fromUtf8(v.unit);
        values[QString::fromUtf8(v.name)] = entry;
        // A readout showing nothing sends nothing on its own topic: an empty message would read
        // as a value of nothing.
        if (!plain.isEmpty())
            out.push_back({base + '/' + v.name, plain});
        if (!field.isEmpty()) {
            if (!fields.isEmpty())
                fields.append(',');
            fields += influxKey(QString::fromUtf8(v.name)) + '=' + field;
        }
    }
    const QJsonObject json{
        {QStringLiteral("time"),
         QDateTime::fromMSecsSinceEpoch(wallMs, Qt::UTC).toString(Qt::ISODateWithMs)},
        {QStringLiteral("seq"), static_cast<double>(sequence)},
        {QStringLiteral("station"), station},
        {QStringLiteral("window"), window},
        {QStringLiteral("event"), QString::fromLatin1(reading.event)},
        {QStringLiteral("values"), values}};
    out.insert(out.begin(), {base, QJsonDocument(json).toJson(QJsonDocument::Compact)});
    if (influx) {
        if (!fields.isEmpty())
            fields.append(',');
        fields += "seq=" + QByteArray::number(static_cast<qulonglong>(sequence)) + 'i';
        out.push_back({base + "/influx", "diagnostika,station=" + influxKey(station) +
                                             ",window=" + influxKey(window) + ' ' + fields + ' ' +
                                             QByteArray::number(wallMs) + "000000"});
    }
    return out;
}

} // namespace diagnostika::publish
