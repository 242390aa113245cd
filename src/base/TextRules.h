#pragma once

#include <QDateTime>
#include <QString>
#include <QStringView>

#include <optional>

// The text conventions that every page parser and every value cell share:
// how a number is read from the start of a text, how numbers and dates are
// written back as text, and how the date texts of the sites are read.
namespace chenglan::text {

// The number at the start of a text: leading blanks skipped, then an optional
// sign, digits and a decimal point ("."). 0 when the text starts otherwise.
// " 12abc" -> 12, "-1" -> -1, "3.5%" -> 3.5, "abc" -> 0.
double leadingNumber(QStringView text);

// The history parser's variant: blanks, tabs and line feeds are skipped
// wherever they stand until the first character that cannot belong to the
// number, so "\n 1 2" reads as 12.
double leadingNumberSkippingSpace(QStringView text);

// True when the whole text (outer blanks aside) is one number, as a strict
// conversion demands.
std::optional<double> strictNumber(QStringView text);

// Rounds to the given number of decimals; a tie goes to the even digit.
// The tie is judged on the decimal text of the value, so 0.125 -> 0.12 and
// 0.375 -> 0.38 although neither is exact in binary.
double roundHalfEven(double value, int decimals = 2);

// The "0.00" pattern: two decimals, always shown.
QString fixed2(double value);

// The plain decimal form: "0.3", "-0.2", "5". No trailing zeros, no exponent
// for the magnitudes that occur in odds, goals and strength values; at most 15
// significant digits: the query text and the stored profiles rely on this
// form.
QString plainDecimal(double value);

// Reads the date and date/time texts that the pages carry:
// "2022-10-09", "2022-10-9 15:30", "2022/10/9 15:30:05", "22-10-9", "22/10/09 9:05".
// A two-digit year 00-29 is 20xx, 30-99 is 19xx. No value for anything else.
std::optional<QDateTime> parseDateTime(QStringView text);

// A month-day text ("10-09 15:30", "1-2") completed with a year.
std::optional<QDateTime> parseMonthDay(QStringView text, int year);

// The one form in which dates are shown to the user: "2022-10-09 15:30",
// or "2022-10-09" when the time is midnight.
QString displayDateTime(const QDateTime &when);
QString displayDate(const QDate &day);

// The text a date cell turns into when a step uses it as text.
QString dateCellText(const QDateTime &when);

// The text without the blanks (U+0020 only) at either end; tabs and line
// breaks stay.
QString trimBlanks(const QString &text);

} // namespace chenglan::text
