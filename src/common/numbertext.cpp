#include "numbertext.h"

#include <algorithm>
#include <array>
#include <cfenv>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace diagnostika {
namespace {

// A finite double taken to 15 significant decimal digits: value = 0.d1d2...d15 x 10^exponent.
struct Decimal15 {
    bool negative = false;
    std::string digits; // exactly 15 digits, or empty for zero
    int exponent = 0;   // position of the decimal point relative to the first digit
};

Decimal15 toDecimal15(double value)
{
    Decimal15 d;
    if (value == 0.0)
        return d;
    std::array<char, 64> buf{};
    // d.dddddddddddddde±XX: 15 significant digits, correctly rounded. Unlike printf, to_chars
    // ignores the C library's locale, whose decimal point may be any text.
    const auto written = std::to_chars(buf.data(), buf.data() + buf.size(), value,
                                       std::chars_format::scientific, 14);
    const std::string s(buf.data(), written.ptr);
    std::size_t i = 0;
    if (s[i] == '-') {
        d.negative = true;
        ++i;
    }
    d.digits.push_back(s[i]);
    i += 2; // skip the digit and the point
    while (i < s.size() && s[i] != 'e')
        d.digits.push_back(s[i++]);
    d.exponent = std::stoi(s.substr(i + 1)) + 1;
    return d;
}

QString withSign(bool negative, QString body)
{
    return negative ? QLatin1Char('-') + body : body;
}

} // namespace

QString generalNumber(double value, const QLocale& locale)
{
    if (std::isnan(value))
        return QStringLiteral("NaN");
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("Inf") : QStringLiteral("-Inf");

    const Decimal15 d = toDecimal15(value);
    if (d.digits.empty())
        return QStringLiteral("0");

    std::string digits = d.digits;
    while (!digits.empty() && digits.back() == '0')
        digits.pop_back();
    const QString sep = locale.decimalPoint();

    // Small magnitudes are written out in full ("0,00001"), however many zeros that takes: the
    // readouts show every reading as plain digits. Only magnitudes that no reading can show keep
    // the exponent.
    const int exp10 = d.exponent - 1; // exponent of the first digit
    if (exp10 >= 15) {
        QString mantissa = QString::fromLatin1(digits.substr(0, 1));
        if (digits.size() > 1)
            mantissa += sep + QString::fromLatin1(digits.substr(1));
        const QString e = QString::number(std::abs(exp10)).rightJustified(2, QLatin1Char('0'));
        return withSign(d.negative, mantissa + QLatin1String(exp10 < 0 ? "E-" : "E+") + e);
    }

    QString body;
    if (d.exponent <= 0) {
        body = QLatin1Char('0') + sep + QString(-d.exponent, QLatin1Char('0')) +
               QString::fromLatin1(digits);
    } else if (static_cast<std::size_t>(d.exponent) >= digits.size()) {
        body = QString::fromLatin1(digits) +
               QString(d.exponent - static_cast<int>(digits.size()), QLatin1Char('0'));
    } else {
        body = QString::fromLatin1(digits.substr(0, d.exponent)) + sep +
               QString::fromLatin1(digits.substr(d.exponent));
    }
    return withSign(d.negative, body);
}

bool isShowableReading(double value)
{
    return std::isfinite(value) && std::abs(value) < 1e15;
}

QString patternNumber(double value, QStringView pattern, const QLocale& locale)
{
    if (!std::isfinite(value))
        return generalNumber(value, locale);

    int decimals = 0;
    bool hasPoint = false;
    if (const auto point = pattern.indexOf(QLatin1Char('.')); point >= 0) {
        hasPoint = true;
        decimals = static_cast<int>(pattern.size() - point - 1);
    }

    const Decimal15 d = toDecimal15(value);
    // Integer and fraction digits of |value| after rounding to `decimals` places, as a digit string
    // with the decimal point implied `decimals` places from the right.
    std::string scaled; // digits of round(|value| * 10^decimals)
    if (!d.digits.empty()) {
        const int keep = d.exponent + decimals; // digits of d.digits that survive
        if (keep >= 0) {
            std::string kept;
            for (int k = 0; k < keep; ++k)
                kept.push_back(k < static_cast<int>(d.digits.size()) ? d.digits[k] : '0');
            const bool roundUp = keep < static_cast<int>(d.digits.size()) && d.digits[keep] >= '5';
            if (roundUp) {
                int k = static_cast<int>(kept.size()) - 1;
                while (k >= 0 && kept[k] == '9')
                    kept[k--] = '0';
                if (k >= 0)
                    ++kept[k];
                else
                    kept.insert(kept.begin(), '1');
            }
            scaled = kept;
        }
    }
    while (scaled.size() > 1 && scaled.front() == '0')
        scaled.erase(scaled.begin());
    if (scaled == "0")
        scaled.clear();

    std::string intPart;
    std::string fracPart;
    if (static_cast<int>(scaled.size()) > decimals) {
        intPart = scaled.substr(0, scaled.size() - decimals);
        fracPart = scaled.substr(scaled.size() - decimals);
    } else {
        fracPart = std::string(decimals - scaled.size(), '0') + scaled;
    }
    while (!fracPart.empty() && fracPart.back() == '0')
        fracPart.pop_back();

    QString body = QString::fromLatin1(intPart);
    if (hasPoint)
        body += locale.decimalPoint() + QString::fromLatin1(fracPart);
    const bool isZero = intPart.empty() && fracPart.empty();
    return withSign(d.negative && !isZero, body);
}

QString fixedNumber(double value, int decimals, const QLocale& locale)
{
    if (!std::isfinite(value))
        return generalNumber(value, locale);
    QLocale ungrouped = locale;
    ungrouped.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
    QString text = ungrouped.toString(value, 'f', decimals);
    // A small negative value rounds to zero, and zero has no sign: "-0,0" would read as a reading
    // below zero.
    if (text.startsWith(ungrouped.negativeSign()) &&
        std::none_of(text.cbegin(), text.cend(),
                     [](QChar c) { return c.isDigit() && c != QLatin1Char('0'); }))
        text.remove(0, ungrouped.negativeSign().size());
    return text;
}

QString integerText(std::int64_t value)
{
    return QString::number(value);
}

std::int64_t roundHalfEven(double value)
{
    if (std::isnan(value))
        return 0;
    constexpr double limit = 9223372036854775807.0; // 2^63 as a double
    if (value >= limit)
        return std::numeric_limits<std::int64_t>::max();
    if (value < -limit)
        return std::numeric_limits<std::int64_t>::min();
    // nearbyint follows the current rounding mode, which is round-to-nearest-even unless someone
    // changed it; do not rely on that.
    const double whole = std::floor(value);
    const double fraction = value - whole;
    double result = whole;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(whole, 2.0) != 0.0))
        result = whole + 1.0;
    return static_cast<std::int64_t>(result);
}

std::optional<double> readNumber(QStringView text, const QLocale& locale)
{
    const QStringView trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    QLocale reader = locale;
    reader.setNumberOptions(QLocale::RejectGroupSeparator);
    bool ok = false;
    const double value = reader.toDouble(trimmed, &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<double> readoutNumber(QStringView text, const QLocale& locale)
{
    const QStringView trimmed = text.trimmed();
    const QString separator = locale.decimalPoint();
    if (!trimmed.endsWith(separator))
        return readNumber(trimmed, locale);
    QStringView digits = trimmed.chopped(separator.size());
    if (digits.isEmpty() || digits == u"-")
        return 0.0;
    return readNumber(digits, locale);
}

} // namespace diagnostika
