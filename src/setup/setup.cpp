#include "setup.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QSaveFile>

namespace diagnostika::setup {
namespace {

const QString formatKey = QStringLiteral("format");
const QString versionKey = QStringLiteral("version");
const QString windowsKey = QStringLiteral("windows");

} // namespace

void Setup::add(std::unique_ptr<SetupSection> section)
{
    sections_.push_back(std::move(section));
}

QJsonObject Setup::save() const
{
    QJsonObject windows;
    for (const auto& section : sections_) {
        if (section->isOpen())
            windows.insert(section->key(), section->save());
    }
    return QJsonObject{{formatKey, QString::fromLatin1(formatName)},
                       {versionKey, formatVersion},
                       {windowsKey, windows}};
}

QStringList Setup::apply(const QJsonObject& setup, bool* applied)
{
    if (applied)
        *applied = false;
    const QJsonValue windowsValue = setup.value(windowsKey);
    if (setup.value(formatKey).toString() != QLatin1String(formatName) ||
        !setup.value(versionKey).isDouble() || !windowsValue.isObject())
        return {QStringLiteral("nie je to nastavenie programu Diagnostika; nepoužilo sa nič")};
    if (applied)
        *applied = true;

    QStringList notApplied;
    const int version = setup.value(versionKey).toInt();
    if (version > formatVersion)
        notApplied << QStringLiteral("súbor je z novšej verzie programu (formát %1, tento program "
                                     "pozná %2): použilo sa, čo tento program pozná")
                          .arg(version)
                          .arg(formatVersion);
    const QJsonObject windows = windowsValue.toObject();
    for (const auto& section : sections_) {
        if (!windows.contains(section->key())) {
            section->close();
            continue;
        }
        const QJsonValue settings = windows.value(section->key());
        if (!section->open()) {
            notApplied << QStringLiteral("%1: okno sa tu nedá otvoriť").arg(section->caption());
            continue;
        }
        if (!settings.isObject()) {
            notApplied
                << QStringLiteral("%1: nastavenia okna nemajú platný tvar").arg(section->caption());
            continue;
        }
        for (const QString& text : section->apply(settings.toObject()))
            notApplied << section->caption() + QStringLiteral(", ") + text;
    }
    for (auto it = windows.begin(); it != windows.end(); ++it) {
        bool known = false;
        for (const auto& section : sections_)
            known = known || section->key() == it.key();
        if (!known)
            notApplied << QStringLiteral("okno „%1“ tento program nepozná").arg(it.key());
    }
    return notApplied;
}

bool Setup::saveFile(const QString& path, QString* error) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(QJsonDocument(save()).toJson(QJsonDocument::Indented)) < 0 || !file.commit()) {
        if (error)
            *error = QStringLiteral("Nastavenie sa nepodarilo uložiť do súboru %1: %2.")
                         .arg(QDir::toNativeSeparators(path), file.errorString());
        return false;
    }
    return true;
}

QStringList Setup::openFile(const QString& path, bool* applied)
{
    if (applied)
        *applied = false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {QStringLiteral("súbor sa nepodarilo otvoriť (%1); nepoužilo sa nič")
                    .arg(file.errorString())};
    QJsonParseError parsed{};
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parsed);
    if (parsed.error != QJsonParseError::NoError)
        return {QStringLiteral("nie je to nastavenie programu Diagnostika (JSON: %1 na znaku %2); "
                               "nepoužilo sa nič")
                    .arg(parsed.errorString())
                    .arg(parsed.offset)};
    return apply(document.object(), applied);
}

QString fileFilter()
{
    return QStringLiteral("Nastavenie Diagnostiky (*.json);;Všetky súbory (*)");
}

} // namespace diagnostika::setup
