#include "base/Value.h"

#include "base/Step.h"
#include "base/TextRules.h"

#include <cmath>
#include <ostream>

namespace chenglan {

namespace {
const QDateTime &serialEpoch() {
    static const QDateTime epoch(QDate(1899, 12, 30), QTime(0, 0), Qt::UTC);
    return epoch;
}
} // namespace

double dateToSerial(const QDateTime &when) {
    return double(serialEpoch().msecsTo(when)) / 86400000.0;
}

QDateTime serialToDate(double serial) {
    return serialEpoch().addMSecs(qint64(std::llround(serial * 86400000.0)));
}

double Value::number() const {
    switch (kind()) {
    case Kind::Empty:
        return 0.0;
    case Kind::Text:
        return text::leadingNumber(std::get<QString>(m_data));
    case Kind::Double:
        return std::get<double>(m_data);
    case Kind::Int16:
        return std::get<std::int16_t>(m_data);
    case Kind::Date:
        return dateToSerial(std::get<QDateTime>(m_data));
    }
    return 0.0;
}

QString Value::text() const {
    switch (kind()) {
    case Kind::Empty:
        return {};
    case Kind::Text:
        return std::get<QString>(m_data);
    case Kind::Double:
        return text::plainDecimal(std::get<double>(m_data));
    case Kind::Int16:
        return QString::number(std::get<std::int16_t>(m_data));
    case Kind::Date:
        return text::dateCellText(std::get<QDateTime>(m_data));
    }
    return {};
}

double Value::toDouble() const {
    switch (kind()) {
    case Kind::Empty:
        return 0.0;
    case Kind::Text: {
        const auto v = text::strictNumber(std::get<QString>(m_data));
        if (!v)
            throw StepFailure(QStringLiteral("not a number: \"%1\"").arg(std::get<QString>(m_data).left(40)));
        return *v;
    }
    default:
        return number();
    }
}

std::int16_t Value::toInt16() const {
    const double v = std::nearbyint(toDouble());
    if (!(v >= -32768.0 && v <= 32767.0))
        throw StepFailure(QStringLiteral("number out of the 16-bit range: %1").arg(text()));
    return std::int16_t(v);
}

QDateTime Value::toDate() const {
    switch (kind()) {
    case Kind::Date:
        return std::get<QDateTime>(m_data);
    case Kind::Text: {
        const auto d = text::parseDateTime(std::get<QString>(m_data));
        if (!d)
            throw StepFailure(QStringLiteral("not a date: \"%1\"").arg(std::get<QString>(m_data).left(40)));
        return *d;
    }
    case Kind::Empty:
        return serialEpoch();
    default: {
        const double serial = number();
        if (!std::isfinite(serial) || std::fabs(serial) > 2958465.0)
            throw StepFailure(QStringLiteral("number out of the date range: %1").arg(text()));
        return serialToDate(serial);
    }
    }
}

QString describe(const Value &value) {
    switch (value.kind()) {
    case Value::Kind::Empty:
        return QStringLiteral("Empty");
    case Value::Kind::Text:
        return u'"' + value.text() + u'"';
    case Value::Kind::Double:
        return value.text();
    case Value::Kind::Int16:
        return value.text() + u's';
    case Value::Kind::Date:
        return u'#' + value.text() + u'#';
    }
    return {};
}

void PrintTo(const Value &value, std::ostream *os) { *os << describe(value).toStdString(); }

QDebug operator<<(QDebug debug, const Value &value) {
    QDebugStateSaver saver(debug);
    debug.noquote() << describe(value);
    return debug;
}

} // namespace chenglan
