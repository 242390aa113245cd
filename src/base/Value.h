#pragma once

#include <QDateTime>
#include <QDebug>
#include <QString>

#include <cstdint>
#include <iosfwd>
#include <variant>

namespace chenglan {

// The dynamically typed cell of every analysis variable and table: empty
// (never written), text, double, 16-bit integer or date.
//
// Numeric reads (number()) follow the pages' convention: empty is 0, text
// counts by its leading number, a date counts as days since 1899-12-30.
// Checked conversions (toDouble(), toDate()) throw StepFailure for a cell
// that is no number or date, so that the statement using them is skipped:
// the steps rely on that to pass over broken cells.
class Value {
public:
    enum class Kind { Empty, Text, Double, Int16, Date };

    Value() = default;
    explicit Value(const QString &text) : m_data(text) {}
    explicit Value(const char16_t *text) : m_data(QString::fromUtf16(text)) {}
    explicit Value(double number) : m_data(number) {}
    explicit Value(const QDateTime &when) : m_data(when) {}
    static Value fromInt16(std::int16_t number) {
        Value v;
        v.m_data = number;
        return v;
    }

    Kind kind() const { return Kind(m_data.index()); }
    bool isEmpty() const { return kind() == Kind::Empty; }
    bool isText() const { return kind() == Kind::Text; }
    bool isNumber() const { return kind() == Kind::Double || kind() == Kind::Int16; }
    bool isDate() const { return kind() == Kind::Date; }

    // Numeric value: empty 0, text by its leading number, date as a day count.
    double number() const;
    // Compares numerically with a number: text cells by their numeric value.
    bool equals(double other) const { return number() == other; }

    // Text form: empty "", numbers in the plain decimal form, dates as
    // "yyyy-MM-dd" or "yyyy-MM-dd HH:mm:ss".
    QString text() const;

    // Strict conversions; throw StepFailure when the cell cannot be converted.
    double toDouble() const;         // text must be a whole number text; empty is 0
    std::int16_t toInt16() const;    // rounds ties to even; out of range fails
    QDateTime toDate() const;        // text must be a date text; numbers are day counts

    const QString *asText() const { return std::get_if<QString>(&m_data); }
    const QDateTime *asDate() const { return std::get_if<QDateTime>(&m_data); }

    // Same kind and same content: for tests and change detection.
    friend bool operator==(const Value &a, const Value &b) { return a.m_data == b.m_data; }

private:
    std::variant<std::monostate, QString, double, std::int16_t, QDateTime> m_data;
};

// The day count of a date: days since 1899-12-30, the time of day as a
// fraction. Dates compare and convert to numbers by it.
double dateToSerial(const QDateTime &when);
QDateTime serialToDate(double serial);

// Readable output for test failures and logs: Empty, "text", 1.5, 3s, #2022-10-09#.
QString describe(const Value &value);
void PrintTo(const Value &value, std::ostream *os);
QDebug operator<<(QDebug debug, const Value &value);

} // namespace chenglan
