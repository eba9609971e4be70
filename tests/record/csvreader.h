#pragma once
// A plain RFC 4180 reader, as a spreadsheet reads a file: quoted fields may hold commas, quotes and
// line breaks. Returns nothing when the text is not well-formed CSV or a row is cut short.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace diagnostika::test {

inline std::optional<std::vector<QStringList>> readCsv(const QByteArray& bytes)
{
    std::vector<QStringList> rows;
    QStringList row;
    QByteArray field;
    bool quoted = false, wasQuoted = false;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (quoted) {
            if (c != '"')
                field.append(c);
            else if (i + 1 < bytes.size() && bytes[i + 1] == '"')
                field.append(bytes[++i]);
            else
                quoted = false;
        } else if (c == '"') {
            if (!field.isEmpty() || wasQuoted)
                return std::nullopt;
            quoted = wasQuoted = true;
        } else if (c == ',' || c == '\n') {
            row.append(QString::fromUtf8(field));
            field.clear();
            wasQuoted = false;
            if (c == '\n') {
                rows.push_back(row);
                row.clear();
            }
        } else if (c == '\r' || wasQuoted) {
            return std::nullopt;
        } else {
            field.append(c);
        }
    }
    // Whole rows only: the file ends with a line break.
    if (quoted || !field.isEmpty() || !row.isEmpty())
        return std::nullopt;
    for (const QStringList& r : rows) {
        if (r.size() != rows.front().size())
            return std::nullopt;
    }
    return rows;
}

inline std::optional<std::vector<QStringList>> readCsvFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return readCsv(file.readAll());
}

} // namespace diagnostika::test
