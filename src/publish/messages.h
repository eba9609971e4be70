#pragma once
// What one reading of a window becomes on the broker:
//   diagnostika/<station>/<window>          the whole reading as JSON: time, sequence number,
//                                           the handler that made it, every value with its unit;
//   diagnostika/<station>/<window>/<value>  each value alone, as plain text, for simple dashboards;
//   diagnostika/<station>/<window>/influx   optionally, the reading in InfluxDB line protocol.
// The sequence number counts the station's readings across windows and restarts, so a consumer
// can drop the duplicates that QoS 1 allows.

#include "common/feed.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <vector>

namespace diagnostika::publish {

struct Message {
    QByteArray topic;
    QByteArray payload;
    friend bool operator==(const Message&, const Message&) = default;
};

QByteArray stationTopic(const QString& station);
QByteArray statusTopic(const QString& station);

// `wallMs`: milliseconds since the epoch when the window made the reading.
std::vector<Message> readingMessages(const QString& station, const QString& window,
                                     const FeedReading& reading, std::int64_t wallMs,
                                     std::uint64_t sequence, bool influx);

// Line protocol's escaping: a tag's key or value, a field's key; and a string field's value.
QByteArray influxKey(const QString& text);
QByteArray influxString(const QString& text);

} // namespace diagnostika::publish
