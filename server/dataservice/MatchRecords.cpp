#include "MatchRecords.h"

#include "ServiceLimits.h"

#include <QDate>
#include <QStringList>

#include <cmath>

namespace chenglan::dataservice {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

QString optionalText(const std::optional<int> &value) {
    return value ? QString::number(*value) : QStringLiteral("-");
}

QString optionalText(const std::optional<double> &value) {
    return value ? QString::number(*value) : QStringLiteral("-");
}

} // namespace

std::optional<std::int32_t> hundredthsFromText(std::string_view text) {
    if (text.empty())
        return 0;
    if (text.size() > limits::kMaxNumberChars)
        return std::nullopt;
    bool negative = false;
    std::size_t i = 0;
    if (text[0] == '-') {
        negative = true;
        ++i;
    }
    const std::size_t intStart = i;
    std::int64_t whole = 0;
    while (i < text.size() && isDigit(text[i])) {
        whole = whole * 10 + (text[i] - '0');
        if (whole > static_cast<std::int64_t>(limits::kMaxStrength))
            return std::nullopt;
        ++i;
    }
    if (i == intStart)
        return std::nullopt;
    std::int64_t fraction = 0; // the first two decimals
    int decimals = 0;
    bool roundUp = false;
    if (i < text.size()) {
        if (text[i] != '.' || i + 1 == text.size())
            return std::nullopt;
        ++i;
        const std::size_t fracStart = i;
        while (i < text.size() && isDigit(text[i]) && decimals < 2) {
            fraction = fraction * 10 + (text[i] - '0');
            ++decimals, ++i;
        }
        // Digits past the second decide the rounding: above half rounds up, an
        // exact half goes to the even hundredth.
        if (i < text.size()) {
            const std::size_t restStart = i;
            while (i < text.size() && isDigit(text[i]))
                ++i;
            if (i != text.size())
                return std::nullopt;
            const std::string_view rest = text.substr(restStart);
            const bool aboveHalf = rest[0] > '5'
                                   || (rest[0] == '5' && rest.find_first_not_of('0', 1) != std::string_view::npos);
            const bool exactHalf = rest[0] == '5' && !aboveHalf;
            roundUp = aboveHalf || exactHalf;
            if (exactHalf) {
                const std::int64_t last = (whole * 100 + fraction) % 10;
                roundUp = last % 2 == 1;
            }
        }
        if (i == fracStart)
            return std::nullopt;
    }
    while (decimals < 2) {
        fraction *= 10;
        ++decimals;
    }
    std::int64_t hundredths = whole * 100 + fraction + (roundUp ? 1 : 0);
    if (hundredths > static_cast<std::int64_t>(limits::kMaxStrength * 100))
        return std::nullopt;
    return static_cast<std::int32_t>(negative ? -hundredths : hundredths);
}

std::optional<std::int32_t> hundredthsFromNumber(double value) {
    if (!std::isfinite(value) || std::fabs(value) > limits::kMaxStrength)
        return std::nullopt;
    // Through the shortest decimal text, so 0.125 stored as a double still
    // rounds like the text "0.125".
    const QByteArray text = QByteArray::number(value, 'f', 6);
    return hundredthsFromText(std::string_view(text.constData(), text.size()));
}

QString hundredthsText(std::int32_t hundredths) {
    const std::int64_t magnitude = hundredths < 0 ? -std::int64_t(hundredths) : hundredths;
    QString text = QString::number(magnitude / 100);
    const int fraction = int(magnitude % 100);
    if (fraction != 0) {
        text += QLatin1Char('.');
        text += QLatin1Char(char('0' + fraction / 10));
        if (fraction % 10 != 0)
            text += QLatin1Char(char('0' + fraction % 10));
    }
    return hundredths < 0 ? QLatin1Char('-') + text : text;
}

bool validPatternCode(QStringView code) {
    if (code.size() > qsizetype(limits::kMaxCodeChars))
        return false;
    for (QChar c : code) {
        const char16_t u = c.unicode();
        const bool ok = (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9');
        if (!ok)
            return false;
    }
    return true;
}

std::optional<std::int64_t> kickoffMinutes(QStringView kickoff) {
    if (kickoff.size() != 16 || kickoff[4] != u'-' || kickoff[7] != u'-' || kickoff[10] != u' '
        || kickoff[13] != u':')
        return std::nullopt;
    for (int i : {0, 1, 2, 3, 5, 6, 8, 9, 11, 12, 14, 15})
        if (kickoff[i] < u'0' || kickoff[i] > u'9')
            return std::nullopt;
    const auto number = [&](int from, int count) { return kickoff.mid(from, count).toInt(); };
    const QDate day(number(0, 4), number(5, 2), number(8, 2));
    const int hour = number(11, 2);
    const int minute = number(14, 2);
    if (!day.isValid() || hour > 23 || minute > 59)
        return std::nullopt;
    const std::int64_t days = day.toJulianDay() - QDate(1970, 1, 1).toJulianDay();
    return days * 1440 + hour * 60 + minute;
}

std::optional<HundredthsProfile> hundredthsProfile(const StrengthProfile &profile, QString *why) {
    HundredthsProfile hundredths;
    for (int k = 0; k < kStrengthCount; ++k) {
        const auto h = hundredthsFromNumber(profile.strengths.at(k).number());
        if (!h) {
            *why = QStringLiteral("strength %1 is out of range").arg(k);
            return std::nullopt;
        }
        hundredths.strengths[size_t(k)] = *h;
    }
    hundredths.code20 = profile.code20.text();
    hundredths.code10 = profile.code10.text();
    if (!validPatternCode(hundredths.code20) || !validPatternCode(hundredths.code10)) {
        *why = QStringLiteral("no pattern codes");
        return std::nullopt;
    }
    return hundredths;
}

QString describe(const MatchFacts &f) {
    return QStringLiteral("MatchFacts{%1 %2/%3 %4 %5-%6 %7 ht %8:%9 ft %10:%11 hc '%12' %13 odds %14/%15}")
        .arg(f.matchId)
        .arg(f.league, f.leagueShort, f.leagueColour, f.homeTeam, f.awayTeam, f.kickoff)
        .arg(optionalText(f.halfTimeHome), optionalText(f.halfTimeAway), optionalText(f.fullTimeHome),
             optionalText(f.fullTimeAway), f.handicap, optionalText(f.handicapLine), optionalText(f.homeOdds))
        .arg(optionalText(f.awayOdds));
}

QString describe(const MatchProfile &p) {
    QStringList values;
    for (auto v : p.strengths)
        values << hundredthsText(v);
    return QStringLiteral("MatchProfile{%1 [%2] %3 %4}").arg(p.matchId).arg(values.join(u' '), p.code20, p.code10);
}

void PrintTo(const MatchFacts &facts, std::ostream *os) { *os << describe(facts).toStdString(); }
void PrintTo(const MatchProfile &profile, std::ostream *os) { *os << describe(profile).toStdString(); }

} // namespace chenglan::dataservice
