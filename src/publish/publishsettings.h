#pragma once
// Where and how a station publishes its readings: the broker, TLS, the user, the station's name.
// The password itself is never part of the settings: only the file it is read from, so a setup file
// or a log that carries these settings never holds it.

#include <QJsonObject>
#include <QString>
#include <cstdint>
#include <optional>

namespace diagnostika::publish {

struct PublishSettings {
    QString host;
    int port = 1883;
    bool tls = false;
    QString caFile;   // the certificate authority the broker's certificate must come from
    QString certFile; // the station's own certificate and key, where the broker asks for one
    QString keyFile;
    QString user;
    QString passwordFile; // empty: no password
    QString station;
    bool influx = false; // also InfluxDB line protocol, for Telegraf
    // The outbox on disk holds at most this much; beyond it the oldest readings go.
    std::int64_t outboxLimitBytes = 64 * 1024 * 1024;

    bool complete() const { return !host.isEmpty() && port > 0 && !station.isEmpty(); }

    QJsonObject toJson() const;
    // Missing keys keep their defaults; `error` says what was wrong when nothing comes back.
    static std::optional<PublishSettings> fromJson(const QJsonObject& json, QString* error);
    // mqtt://[user@]host[:port]/station or mqtts://... (TLS, port 8883 by default). A password
    // in the address is refused: it would stay in the shell's history and the process list.
    static std::optional<PublishSettings> fromUrl(const QString& url, QString* error);
    // What the station name may hold: a topic level, so no '/', '+', '#', nothing invisible.
    static bool validStation(const QString& station);

    friend bool operator==(const PublishSettings&, const PublishSettings&) = default;
};

} // namespace diagnostika::publish
