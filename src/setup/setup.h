#pragma once
// Setups: which measurement windows are open and every setting each holds, kept in one readable
// JSON file with a format version:
//
//   { "format": "diagnostika-setup", "version": 1,
//     "windows": { "com": { "port": "COM1", "speedInput": "CTS", ... }, "trend": { ... } } }
//
// A window listed is open, with those settings; a window not listed is closed. Opening a setup
// applies what it can and names the rest: a file that is not a setup applies nothing, a newer
// format applies what this program knows of it.

#include "setupsection.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

namespace diagnostika::setup {

inline constexpr int formatVersion = 1;
inline const char* const formatName = "diagnostika-setup";

class Setup {
public:
    // Sections apply in the order added: a window that follows another comes after it.
    void add(std::unique_ptr<SetupSection> section);

    QJsonObject save() const;
    // Opens and closes the windows as `setup` says and applies their settings. Returns one text
    // per thing not applied. `applied` tells whether the file was taken as a setup at all.
    QStringList apply(const QJsonObject& setup, bool* applied = nullptr);

    // The file's whole text: false with the system's reason in `error` when it cannot be written.
    // The file is replaced whole or not at all.
    bool saveFile(const QString& path, QString* error) const;
    // Reads and applies the file; what could not be applied, the file's own failure among it.
    QStringList openFile(const QString& path, bool* applied = nullptr);

private:
    std::vector<std::unique_ptr<SetupSection>> sections_;
};

// For the file dialogs.
QString fileFilter();

} // namespace diagnostika::setup
