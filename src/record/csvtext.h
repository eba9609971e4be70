#pragma once
// The texts of recording files: numbers with a decimal point and no grouping whatever the desktop's
// locale, fields quoted as RFC 4180 wants, and local date-and-time stamps. Every function appends
// to a byte buffer (UTF-8), so a row is built without a temporary per field.

#include <QByteArray>
#include <QDateTime>
#include <QStringView>
#include <cstdint>
#include <optional>

namespace diagnostika::record {

// The shortest text that reads back as the same double ("0.1", "1e-07", "12.34"); nothing for an
// empty value, NaN or an infinity.
void appendNumber(QByteArray& out, std::optional<double> value);
void appendInteger(QByteArray& out, std::int64_t value);
// A text field, in double quotes when it holds a comma, a quote or a line break.
void appendField(QByteArray& out, QStringView text);

// Local date and time to the millisecond in ISO 8601 ("2026-12-07T14:05:03.123"), for rows.
// Building the text from a date is slow next to an edge's row, so the text of the second is kept
// and only the milliseconds are written per row.
class LocalTimeText {
public:
    void append(QByteArray& out, std::int64_t msSinceEpoch);

private:
    std::int64_t second_ = INT64_MIN;
    QByteArray prefix_; // "2026-12-07T14:05:03."
};

// ISO 8601 with the zone's offset ("2026-12-07T14:05:03.123+01:00"), for the metadata.
QString isoWithOffset(const QDateTime& time);

} // namespace diagnostika::record
