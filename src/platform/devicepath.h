#pragma once
// Device paths as the very bytes the user gave.
//
// A file name on Linux is bytes, not text; one that is not valid UTF-8 would lose its odd bytes in
// a QString and name another file, or none. Such a path is carried in a QString with each byte
// that is not part of valid UTF-8 kept as the code point U+DC80 + byte (a lone surrogate, which no
// valid UTF-8 text produces), so that it converts back to the same bytes.

#include <QByteArray>
#include <QString>

namespace diagnostika {

QString devicePathFromBytes(const QByteArray& bytes);
QByteArray devicePathBytes(const QString& path);
// The path for a person to read: each kept byte shows as the replacement character.
QString devicePathForDisplay(QString path);

} // namespace diagnostika
