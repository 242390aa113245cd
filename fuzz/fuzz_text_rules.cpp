// libFuzzer target for the text conventions every parser shares: numbers at
// the start of a text, strict numbers, rounding and the written forms, the
// sites' date texts, colour texts and the value cells' conversions. The
// input is read as UTF-8 text. Run by scripts/fuzz.
#include "FuzzSupport.h"

#include "base/TextRules.h"
#include "base/Value.h"
#include "model/MatchListGrid.h"

#include <cmath>

using namespace chenglan;

namespace {

void numbers(const QString &t, int decimals) {
    FUZZ_CHECK(std::isfinite(text::leadingNumber(t)));
    FUZZ_CHECK(std::isfinite(text::leadingNumberSkippingSpace(t)));

    const auto strict = text::strictNumber(t);
    if (!strict)
        return;
    const double x = *strict;
    FUZZ_CHECK(std::isfinite(x));

    // Rounding moves a value by at most half a unit of the last decimal.
    const double rounded = text::roundHalfEven(x, decimals);
    FUZZ_CHECK(std::isfinite(rounded));
    if (std::fabs(x) < 1e12)
        FUZZ_CHECK(std::fabs(rounded - x) <= 0.5 * std::pow(10.0, -decimals) + std::fabs(x) * 1e-12 + 1e-300);
    FUZZ_CHECK(text::roundHalfEven(rounded, decimals) == rounded);

    // "0.00" always has two decimals and reads back within a cent.
    const QString cents = text::fixed2(x);
    FUZZ_CHECK(cents.size() >= 4 && cents[cents.size() - 3] == u'.');
    if (std::fabs(x) < 1e12) {
        const auto back = text::strictNumber(cents);
        FUZZ_CHECK(back && std::fabs(*back - x) <= 0.005 + std::fabs(x) * 1e-12);
    }

    // The plain form has no exponent and reads back to 15 significant digits
    // (tiny values to 15 decimals).
    const QString plain = text::plainDecimal(x);
    FUZZ_CHECK(!plain.contains(u'e') && !plain.contains(u'E'));
    const auto back = text::strictNumber(plain);
    FUZZ_CHECK(back);
    FUZZ_CHECK(std::fabs(*back - x) <= std::fabs(x) * 1e-14 + 5.1e-16);
    FUZZ_CHECK(Value(x).text() == plain);
}

void dates(const QString &t, int year) {
    if (const auto when = text::parseDateTime(t)) {
        FUZZ_CHECK(when->isValid());
        // The cell text and the display form read back as the same moment.
        FUZZ_CHECK(text::parseDateTime(text::dateCellText(*when)) == *when);
        if (when->time().second() == 0)
            FUZZ_CHECK(text::parseDateTime(text::displayDateTime(*when)) == *when);
        FUZZ_CHECK(Value(t).toDate() == *when);
    } else {
        bool threw = false;
        try {
            (void)Value(t).toDate();
        } catch (const StepFailure &) {
            threw = true;
        }
        FUZZ_CHECK(threw);
    }
    if (const auto when = text::parseMonthDay(t, year))
        FUZZ_CHECK(when->isValid() && when->date().year() == year);
}

void colours(const QString &t) {
    try {
        const int rgb = HexColorToRgb(t);
        FUZZ_CHECK(rgb >= 0 && rgb <= 0xFFFFFF);
    } catch (const StepFailure &) {
    }
}

void cells(const QString &t) {
    const Value v(t);
    FUZZ_CHECK(v.text() == t);
    FUZZ_CHECK(v.number() == text::leadingNumber(t));
    try {
        FUZZ_CHECK(std::isfinite(v.toDouble()));
    } catch (const StepFailure &) {
    }
    try {
        const std::int16_t n = v.toInt16();
        FUZZ_CHECK(Value::fromInt16(n).text() == QString::number(n));
    } catch (const StepFailure &) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size == 0)
        return 0;
    // The first byte picks the decimals and the year; the rest is the text.
    const int decimals = data[0] % 16;
    const int year = 1990 + data[0] % 64;
    const QString t = QString::fromUtf8(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    numbers(t, decimals);
    dates(t, year);
    colours(t);
    cells(t);
    return 0;
}
