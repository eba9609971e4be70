#include "csvtext.h"

#include <charconv>
#include <cmath>

namespace diagnostika::record {

void appendNumber(QByteArray& out, std::optional<double> value)
{
    if (!value || !std::isfinite(*value))
        return;
    char buffer[32];
    // Without a precision to_chars writes the shortest round-trip text, by the C++ rules, not the C
    // locale's: the decimal point stays a point whatever setlocale() was given.
    const std::to_chars_result result = std::to_chars(buffer, buffer + sizeof buffer, *value);
    out.append(buffer, result.ptr - buffer);
}

void appendInteger(QByteArray& out, std::int64_t value)
{
    char buffer[24];
    const std::to_chars_result result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr - buffer);
}

void appendField(QByteArray& out, QStringView text)
{
    const QByteArray bytes = text.toUtf8();
    const bool quote =
        bytes.contains(',') || bytes.contains('"') || bytes.contains('\n') || bytes.contains('\r');
    if (!quote) {
        out.append(bytes);
        return;
    }
    out.append('"');
    for (const char c : bytes) {
        if (c == '"')
            out.append('"');
        out.append(c);
    }
    out.append('"');
}

void LocalTimeText::append(QByteArray& out, std::int64_t msSinceEpoch)
{
    const std::int64_t second =
        msSinceEpoch >= 0 ? msSinceEpoch / 1000 : -((-msSinceEpoch + 999) / 1000);
    if (second != second_) {
        second_ = second;
        prefix_ = QDateTime::fromMSecsSinceEpoch(second * 1000)
                      .toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss."))
                      .toLatin1();
    }
    out.append(prefix_);
    const auto ms = static_cast<int>(msSinceEpoch - second * 1000);
    out.append(static_cast<char>('0' + ms / 100));
    out.append(static_cast<char>('0' + ms / 10 % 10));
    out.append(static_cast<char>('0' + ms % 10));
}

QString isoWithOffset(const QDateTime& time)
{
    QString text = time.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz"));
    const int offset = time.offsetFromUtc() / 60;
    const int magnitude = std::abs(offset);
    text += offset < 0 ? QLatin1Char('-') : QLatin1Char('+');
    text += QStringLiteral("%1:%2")
                .arg(magnitude / 60, 2, 10, QLatin1Char('0'))
                .arg(magnitude % 60, 2, 10, QLatin1Char('0'));
    return text;
}

} // namespace diagnostika::record
