#include "base/TextRules.h"

#include <QRegularExpression>

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace chenglan::text {

namespace {

bool isBlank(QChar c) { return c == u' '; }
bool isSpaceLike(QChar c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r'; }

// Scans sign, digits and one decimal point, calling skip() for characters to
// pass over. Returns the number text it collected.
template <class Skip>
QString scanNumber(QStringView text, Skip skip, bool skipInside) {
    QString digits;
    int i = 0;
    const int n = int(text.size());
    while (i < n && skip(text[i]))
        ++i;
    if (i < n && (text[i] == u'-' || text[i] == u'+')) {
        if (text[i] == u'-')
            digits += u'-';
        ++i;
    }
    bool seenPoint = false;
    bool seenDigit = false;
    for (; i < n; ++i) {
        const QChar c = text[i];
        if (skipInside && skip(c))
            continue;
        if (c.isDigit() && c.unicode() < 128) {
            digits += c;
            seenDigit = true;
        } else if (c == u'.' && !seenPoint) {
            digits += c;
            seenPoint = true;
        } else {
            break;
        }
    }
    return seenDigit ? digits : QString();
}

double toDouble(const QString &digits) {
    if (digits.isEmpty())
        return 0.0;
    bool ok = false;
    const double v = digits.toDouble(&ok);
    return ok ? v : 0.0;
}

int expandYear(int year, int width) {
    if (width > 2)
        return year;
    return year < 30 ? 2000 + year : 1900 + year;
}

} // namespace

double leadingNumber(QStringView text) { return toDouble(scanNumber(text, isBlank, false)); }

double leadingNumberSkippingSpace(QStringView text) {
    return toDouble(scanNumber(text, isSpaceLike, true));
}

std::optional<double> strictNumber(QStringView text) {
    const QString t = text.trimmed().toString();
    if (t.isEmpty())
        return std::nullopt;
    bool ok = false;
    const double v = t.toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return std::nullopt;
    return v;
}

double roundHalfEven(double value, int decimals) {
    if (!std::isfinite(value) || decimals < 0 || decimals > 15)
        return value;
    // Round on the shortest decimal text that reads back as the value, so that
    // 0.125 counts as the tie it looks like although it is not exact in binary.
    char buf[64];
    for (int precision = 1; precision <= 17; ++precision) {
        std::snprintf(buf, sizeof buf, "%.*g", precision, value);
        if (std::strtod(buf, nullptr) == value)
            break;
    }
    const QString shortest = QString::fromLatin1(buf);
    if (shortest.contains(u'e') || shortest.contains(u'E')) {
        // From 2^53 on every double is whole; scaling such a value could
        // only overflow to infinity.
        if (std::fabs(value) >= 9007199254740992.0)
            return value;
        const double scale = std::pow(10.0, decimals);
        return std::nearbyint(value * scale) / scale; // ties to even in binary
    }
    const bool negative = shortest.startsWith(u'-');
    const QString body = negative ? shortest.mid(1) : shortest;
    const qsizetype point = body.indexOf(u'.');
    const QString whole = point < 0 ? body : body.left(point);
    const QString fraction = point < 0 ? QString() : body.mid(point + 1);
    if (fraction.size() <= decimals)
        return value;
    QString kept = whole + fraction.left(decimals); // digits of the result, no point
    const QString rest = fraction.mid(decimals);
    bool up;
    if (rest[0] > u'5')
        up = true;
    else if (rest[0] < u'5')
        up = false;
    else if (rest.size() > 1 && rest.mid(1).contains(QRegularExpression(QStringLiteral("[1-9]"))))
        up = true;
    else
        up = (kept.back().digitValue() % 2) == 1; // a tie: to the even digit
    if (up) {
        qsizetype i = kept.size() - 1;
        while (i >= 0 && kept[i] == u'9') {
            kept[i] = u'0';
            --i;
        }
        if (i < 0)
            kept.prepend(u'1');
        else
            kept[i] = QChar(u'0' + kept[i].digitValue() + 1);
    }
    QString text = kept;
    if (decimals > 0)
        text.insert(text.size() - decimals, u'.');
    const double result = text.toDouble() * (negative ? -1.0 : 1.0);
    return result == 0.0 ? 0.0 : result;
}

QString fixed2(double value) { return QString::number(roundHalfEven(value, 2), 'f', 2); }

QString plainDecimal(double value) {
    if (value == 0.0)
        return QStringLiteral("0");
    QString t = QString::number(value, 'g', 15);
    if (t.contains(u'e')) {
        t = QString::number(value, 'f', 15);
        if (t.contains(u'.')) {
            while (t.endsWith(u'0'))
                t.chop(1);
            if (t.endsWith(u'.'))
                t.chop(1);
        }
    }
    return t;
}

std::optional<QDateTime> parseDateTime(QStringView text) {
    static const QRegularExpression pattern(QStringLiteral(
        R"(^\s*(\d{2}|\d{4})[-/](\d{1,2})[-/](\d{1,2})(?:[ T]+(\d{1,2}):(\d{1,2})(?::(\d{1,2}))?)?\s*$)"));
    const auto m = pattern.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    const int year = expandYear(m.capturedView(1).toInt(), int(m.capturedView(1).size()));
    const QDate day(year, m.capturedView(2).toInt(), m.capturedView(3).toInt());
    if (!day.isValid())
        return std::nullopt;
    QTime time(0, 0, 0);
    if (m.capturedLength(4) > 0) {
        time = QTime(m.capturedView(4).toInt(), m.capturedView(5).toInt(),
                     m.capturedLength(6) > 0 ? m.capturedView(6).toInt() : 0);
        if (!time.isValid())
            return std::nullopt;
    }
    return QDateTime(day, time, Qt::UTC);
}

std::optional<QDateTime> parseMonthDay(QStringView text, int year) {
    return parseDateTime(QString::number(year) + u'-' + text.trimmed().toString());
}

QString displayDateTime(const QDateTime &when) {
    if (!when.isValid())
        return {};
    if (when.time() == QTime(0, 0))
        return displayDate(when.date());
    return when.toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

QString displayDate(const QDate &day) { return day.isValid() ? day.toString(QStringLiteral("yyyy-MM-dd")) : QString(); }

QString dateCellText(const QDateTime &when) {
    if (!when.isValid())
        return {};
    if (when.time() == QTime(0, 0))
        return when.toString(QStringLiteral("yyyy-MM-dd"));
    return when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString trimBlanks(const QString &text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == u' ')
        ++begin;
    while (end > begin && text[end - 1] == u' ')
        --end;
    return text.mid(begin, end - begin);
}

} // namespace chenglan::text
