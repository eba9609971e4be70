#pragma once
// Every conversion between numbers and the texts a user reads or types.
//
// The locale is always passed in: the program uses the system locale, tests pin one. Outputs use
// the locale's decimal separator and never group thousands.

#include <QLocale>
#include <QString>
#include <QStringView>
#include <cstdint>
#include <optional>

namespace diagnostika {

// The general number format: up to 15 significant digits, no trailing zeros, a leading zero before
// the separator, "-" for negatives, plain decimals however small ("0,00001"). Magnitudes from 1E15
// on, which no readout shows (see isShowableReading), get an exponent ("1,5E+20"); NaN and the
// infinities are written as "NaN", "Inf" and "-Inf" rather than as digits.
QString generalNumber(double value, const QLocale& locale);

// Whether a readout can show `value` in the general format as plain digits that are the value's
// own: finite, and below 1E15 in magnitude, where 15 significant digits still reach the units.
bool isShowableReading(double value);

// A digit pattern made of '#' with at most one '.', such as "##.##", "#.#" or "##". The value is
// first taken to 15 significant digits, then rounded to the pattern's decimals with halves away
// from zero. The integer part is written without leading zeros (nothing for 0); a pattern with
// decimals always writes the separator, then the decimals without trailing zeros. So 150 under
// "##.##" is "150," and 0 is "," with a decimal comma; 0 under "##" is the empty text. A pattern
// that is not
// '#' and '.' is treated as having no decimals.
QString patternNumber(double value, QStringView pattern, const QLocale& locale);

// A fixed number of decimals ("1500,0", "0,250"), never grouped: for figures whose precision is
// part of what they say (a report's table, a chart's readout). Not finite: as generalNumber().
QString fixedNumber(double value, int decimals, const QLocale& locale);

// Plain decimal digits with a leading "-" when negative.
QString integerText(std::int64_t value);

// Round to the nearest integer with halves to even, as where a number is stored in an integer
// field. Values beyond the int64 range saturate; NaN gives 0.
std::int64_t roundHalfEven(double value);

// Reads a number typed by the user, by the locale's rules: blanks around it are ignored, a leading
// sign and an exponent are accepted, thousands separators are not. Returns nothing for text that
// does not read as a finite number (empty, letters, "1e999"). Never throws.
std::optional<double> readNumber(QStringView text, const QLocale& locale);

// Reads back the number a readout shows, as written by the functions above in `locale`: besides
// what readNumber() reads, a digit pattern's forms with a bare separator ("150," is 150, "," and
// "-," are 0). Nothing for a readout that shows no number (empty, "N/A").
std::optional<double> readoutNumber(QStringView text, const QLocale& locale);

} // namespace diagnostika
