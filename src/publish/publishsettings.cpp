#include "publishsettings.h"

#include <QUrl>

namespace diagnostika::publish {

QJsonObject PublishSettings::toJson() const
{
    QJsonObject o{{QStringLiteral("host"), host},
                  {QStringLiteral("port"), port},
                  {QStringLiteral("tls"), tls},
                  {QStringLiteral("user"), user},
                  {QStringLiteral("passwordFile"), passwordFile},
                  {QStringLiteral("station"), station},
                  {QStringLiteral("influx"), influx},
                  {QStringLiteral("outboxLimitBytes"), static_cast<double>(outboxLimitBytes)}};
    if (!caFile.isEmpty())
        o[QStringLiteral("caFile")] = caFile;
    if (!certFile.isEmpty())
        o[QStringLiteral("certFile")] = certFile;
    if (!keyFile.isEmpty())
        o[QStringLiteral("keyFile")] = keyFile;
    return o;
}

std::optional<PublishSettings> PublishSettings::fromJson(const QJsonObject& json, QString* error)
{
    PublishSettings s;
    const auto text = [&json](const char* key, QString& into) {
        const QJsonValue v = json.value(QLatin1StringView(key));
        if (v.isString())
            into = v.toString();
        return v.isUndefined() || v.isString();
    };
    const auto flag = [&json](const char* key, bool& into) {
        const QJsonValue v = json.value(QLatin1StringView(key));
        if (v.isBool())
            into = v.toBool();
        return v.isUndefined() || v.isBool();
    };
    const bool typesRight = text("host", s.host) && text("caFile", s.caFile) &&
                            text("certFile", s.certFile) && text("keyFile", s.keyFile) &&
                            text("user", s.user) && text("passwordFile", s.passwordFile) &&
                            text("station", s.station) && flag("tls", s.tls) &&
                            flag("influx", s.influx);
    const QJsonValue port = json.value(QLatin1StringView("port"));
    const QJsonValue limit = json.value(QLatin1StringView("outboxLimitBytes"));
    if (!typesRight || !(port.isUndefined() || port.isDouble()) ||
        !(limit.isUndefined() || limit.isDouble())) {
        if (error)
            *error = QStringLiteral("nastavenia odosielania majú hodnotu nesprávneho typu");
        return std::nullopt;
    }
    if (port.isDouble())
        s.port = port.toInt(-1);
    if (limit.isDouble())
        s.outboxLimitBytes = static_cast<std::int64_t>(limit.toDouble());
    if (s.port < 1 || s.port > 65535 || s.outboxLimitBytes < 1024 ||
        (!s.station.isEmpty() && !validStation(s.station))) {
        if (error)
            *error = QStringLiteral("nastavenia odosielania majú neplatný port, názov stanice "
                                    "alebo veľkosť radu");
        return std::nullopt;
    }
    return s;
}

bool PublishSettings::validStation(const QString& station)
{
    if (station.isEmpty())
        return false;
    for (const QChar c : station) {
        if (c == u'/' || c == u'+' || c == u'#' || !c.isPrint() || c.isSpace())
            return false;
    }
    return true;
}

std::optional<PublishSettings> PublishSettings::fromUrl(const QString& text, QString* error)
{
    const QUrl url(text, QUrl::StrictMode);
    const auto refuse = [error](const QString& why) {
        if (error)
            *error = why;
        return std::nullopt;
    };
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != u"mqtt" && scheme != u"mqtts") || url.host().isEmpty())
        return refuse(QStringLiteral("'%1' is not mqtt://[user@]host[:port]/station "
                                     "or mqtts://...")
                          .arg(text));
    if (!url.password().isEmpty())
        return refuse(QStringLiteral("a password in the address would stay in the shell's history; "
                                     "name a file that holds it with --publish-password-file"));
    PublishSettings s;
    s.tls = scheme == u"mqtts";
    s.host = url.host();
    s.port = url.port(s.tls ? 8883 : 1883);
    s.user = url.userName();
    s.station = url.path().mid(1);
    if (!validStation(s.station))
        return refuse(QStringLiteral("'%1' names no station after the host (one topic level: "
                                     "no '/', '+', '#' or spaces)")
                          .arg(text));
    return s;
}

} // namespace diagnostika::publish
