// A number typed into a text box, read with a decimal comma (Slovak) and a decimal point
// (English). A number it accepts is finite, reads the same with blanks around it, and reads back
// exactly from what the locale writes of it.

#include "common/numbertext.h"

#include "check.h"

#include <QLocale>
#include <QString>
#include <cmath>
#include <cstddef>
#include <cstdint>

namespace {

void check(const QString& text, const QLocale& locale)
{
    const std::optional<double> value = diagnostika::readNumber(text, locale);
    FUZZ_CHECK(diagnostika::readNumber(QLatin1String(" \t") + text + QLatin1Char(' '), locale) ==
               value);
    if (!value)
        return;
    FUZZ_CHECK(std::isfinite(*value));
    QLocale writer = locale;
    writer.setNumberOptions(QLocale::OmitGroupSeparator);
    FUZZ_CHECK(diagnostika::readNumber(writer.toString(*value, 'g', 17), locale) == value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const QLocale slovak(QLocale::Slovak, QLocale::Slovakia);
    static const QLocale english(QLocale::English, QLocale::UnitedStates);
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    check(text, slovak);
    check(text, english);
    return 0;
}
