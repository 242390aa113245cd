#include "AnswerFormat.h"

#include "base/TextRules.h"

#include <QStringEncoder>

#include <cmath>

namespace chenglan::dataservice {

namespace {

QString number(const std::optional<int> &value) { return value ? QString::number(*value) : QString(); }

QString decimal(const std::optional<double> &value) { return value ? text::plainDecimal(*value) : QString(); }

// The result of one side: "胜" won, "平" drew, "负" lost.
QString result(int own, int other) {
    if (own > other)
        return QStringLiteral("胜");
    return own == other ? QStringLiteral("平") : QStringLiteral("负");
}

} // namespace

QString fieldText(const QString &text) {
    QString safe = text;
    for (QChar &c : safe) {
        if (c == u',')
            c = QChar(0xFF0C);
        else if (c == u'|')
            c = QChar(0xFF5C);
        else if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = u' ';
    }
    return safe;
}

QStringList storedFields(const AnswerRow &row) {
    const MatchFacts &f = row.facts;
    QStringList fields(field::Stored);
    fields[field::MatchId] = QString::number(f.matchId);
    fields[field::Kickoff] = fieldText(f.kickoff);
    fields[field::LeagueColour] = fieldText(f.leagueColour);
    fields[field::League] = fieldText(f.leagueShort.isEmpty() ? f.league : f.leagueShort);
    fields[field::HomeTeam] = fieldText(f.homeTeam);
    fields[field::AwayTeam] = fieldText(f.awayTeam);
    fields[field::HandicapLine] = decimal(f.handicapLine);
    fields[field::FullTimeHome] = number(f.fullTimeHome);
    fields[field::FullTimeAway] = number(f.fullTimeAway);
    fields[field::HalfTimeHome] = number(f.halfTimeHome);
    fields[field::HalfTimeAway] = number(f.halfTimeAway);
    fields[field::HomeOdds] = decimal(f.homeOdds);
    fields[field::AwayOdds] = decimal(f.awayOdds);
    if (f.fullTimeHome && f.fullTimeAway) {
        const int home = *f.fullTimeHome, away = *f.fullTimeAway;
        fields[field::HomeResult] = result(home, away);
        fields[field::AwayResult] = result(away, home);
        fields[field::FullTimeScore] = QStringLiteral("%1:%2").arg(home).arg(away);
        fields[field::FullTimeGoals] = QString::number(home + away);
    }
    if (f.halfTimeHome && f.halfTimeAway) {
        const int home = *f.halfTimeHome, away = *f.halfTimeAway;
        fields[field::HalfTimeScore] = QStringLiteral("%1:%2").arg(home).arg(away);
        fields[field::HalfTimeGoals] = QString::number(home + away);
        if (f.fullTimeHome && f.fullTimeAway) {
            fields[field::HomeHalfFull] = result(home, away) + result(*f.fullTimeHome, *f.fullTimeAway);
            fields[field::AwayHalfFull] = result(away, home) + result(*f.fullTimeAway, *f.fullTimeHome);
        }
    }
    fields[field::Handicap] = fieldText(f.handicap);
    const Strengths &s = row.profile.strengths;
    const int placement[kStrengthCount] = {field::Strength0, field::Strength1, field::Strength2, field::Strength3,
                                           field::Strength4, field::Strength5, field::Strength6, field::Strength7};
    for (int k = 0; k < kStrengthCount; ++k)
        fields[placement[k]] = hundredthsText(s[k]);
    fields[field::PatternCode20] = fieldText(row.profile.code20);
    fields[field::PatternCode10] = fieldText(row.profile.code10);
    return fields;
}

std::string storedRecord(const AnswerRow &row) {
    QString text;
    for (const QString &f : storedFields(row)) {
        text += f;
        text += u',';
    }
    // GB18030 keeps no state between whole texts, so one encoder per thread
    // serves every record of a load.
    thread_local QStringEncoder encoder("GB18030");
    const QByteArray bytes = encoder.encode(text);
    return bytes.toStdString();
}

void appendRecord(QByteArray &answer, const SimilarHit &hit) {
    answer.append(hit.record.data(), qsizetype(hit.record.size()));
    answer.append(QByteArray::number(hit.distance(), 'f', 4));
    answer.append(',');
    answer.append(hit.sameCodes ? '1' : '0');
    answer.append(",|");
}

} // namespace chenglan::dataservice
