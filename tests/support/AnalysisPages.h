#pragma once

#include "support/FakeWeb.h"
#include "support/QtPrinters.h"

#include <QStringEncoder>
#include <QStringList>

#include <functional>

// Analysis pages for FakeWeb: a small consistent set of matches of two teams,
// laid out as the analysis site writes them (record arrays and match facts in
// a body script, between the markers the extraction looks for).
namespace chenglan::testing {

// One past match as the site lists it: 17 or more fields, field 0 the date,
// 4 and 6 the team ids, 8 and 9 the goals, 12 the result code, 15 the id.
struct PastMatch {
    QString date;
    int homeId = 0;
    int awayId = 0;
    int homeGoals = 0;
    int awayGoals = 0;
    int matchId = 0;
    int extraFields = 0; // fields after 16

    QStringList fields(int forTeam) const {
        QStringList f;
        const int own = forTeam == homeId ? homeGoals : awayGoals;
        const int other = forTeam == homeId ? awayGoals : homeGoals;
        const int result = own > other ? 1 : own == other ? 0 : -1;
        f << date << QStringLiteral("联赛") << QStringLiteral("#FF0000") << QStringLiteral("x")
          << QString::number(homeId) << QStringLiteral("主队%1").arg(homeId) << QString::number(awayId)
          << QStringLiteral("客队%1").arg(awayId) << QString::number(homeGoals) << QString::number(awayGoals)
          << QStringLiteral("1-0") << QStringLiteral("0.25") << QString::number(result) << QStringLiteral("a")
          << QStringLiteral("b") << QString::number(matchId) << QStringLiteral("c");
        for (int i = 0; i < extraFields; ++i)
            f << QStringLiteral("e%1").arg(17 + i);
        return f;
    }
};

// A JavaScript array literal of records, each an array of string fields.
inline QString jsRecords(const QList<PastMatch> &matches, int forTeam) {
    QStringList records;
    for (const PastMatch &m : matches) {
        QStringList quoted;
        for (const QString &f : m.fields(forTeam))
            quoted << u'\'' + f + u'\'';
        records << u'[' + quoted.join(u',') + u']';
    }
    return u'[' + records.join(u',') + u']';
}

struct PageFacts {
    int homeId = 0;
    int awayId = 0;
    QString homeName;
    QString awayName;
    QString kickOff; // "2022-05-20 19:30"
    QList<PastMatch> homeList;
    QList<PastMatch> awayList;
    QList<PastMatch> thirdList;
};

// The whole page: navigation around, the data script in the body with both
// markers (the data after "function show_info(URL)", where the extraction
// starts) and a lower-case closing tag, as the site serves it.
inline QString analysisPageHtml(const PageFacts &p) {
    return QStringLiteral(
               "<!DOCTYPE html><html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\">"
               "<title>%3 VS %4</title><script>var headerScript = 1;</script></head><body>"
               "<div class=\"nav\"><a href=\"/\">首页</a> | <a href=\"/analysis/\">分析</a></div>"
               "<script type=\"text/javascript\">\n"
               "var lang = 0;\n"
               "function show_info(URL) { window.open(URL, '', 'width=600'); }\n"
               "var h2h_home = %1;\nvar h2h_away = %2;\n"
               "var hometeam = '%3';\nvar guestteam = '%4';\nvar strTime = '%5';\n"
               "var h_data = %6;\nvar a_data = %7;\nvar v_data = %8;\n"
               "</script>\n"
               "<table><tr><td>%3</td><td>%4</td></tr></table></body></html>")
        .arg(p.homeId)
        .arg(p.awayId)
        .arg(p.homeName, p.awayName, p.kickOff, jsRecords(p.homeList, p.homeId), jsRecords(p.awayList, p.awayId),
             jsRecords(p.thirdList, p.homeId));
}

inline void addGbPage(FakeWeb &web, const QString &url, const QString &html) {
    QStringEncoder gb("GB18030");
    web.add(url, gb.encode(html), 200, "text/html; charset=gb2312");
}

// Two teams with a long common past: team `home` plays every 7 days, team
// `away` every 5, each against other clubs, alternating home and away. The
// analysed match's page lists each team's last `listed` matches; the page of
// a team's oldest listed match lists the `listed` matches before it, so the
// extension continues each history further back.
class TwoTeamWorld {
public:
    int home = 11;
    int away = 22;
    int analysedId = 100;
    QDateTime kickOff{QDate(2022, 5, 20), QTime(19, 30), Qt::UTC};
    int listed = 30;
    int longRecord = -1; // k of a match listed with 37 fields

    PastMatch homeMatch(int k) const { return teamMatch(home, k, 7, 1000); }
    PastMatch awayMatch(int k) const { return teamMatch(away, k, 5, 2000); }

    QList<PastMatch> homeMatches(int from, int count) const {
        return range(from, count, [&](int k) { return homeMatch(k); });
    }
    QList<PastMatch> awayMatches(int from, int count) const {
        return range(from, count, [&](int k) { return awayMatch(k); });
    }

    PageFacts analysedPage() const {
        PageFacts p;
        p.homeId = home;
        p.awayId = away;
        p.homeName = QStringLiteral("曼联");
        p.awayName = QStringLiteral("利物浦");
        p.kickOff = kickOff.toString(QStringLiteral("yyyy-MM-dd HH:mm"));
        p.homeList = homeMatches(0, listed);
        p.awayList = awayMatches(0, listed);
        p.thirdList = {homeMatch(3)};
        return p;
    }

    // The page of a team's k-th match back: the team's list on its side, the
    // opponent's (a short list) on the other.
    PageFacts extensionPage(int team, int k) const {
        const PastMatch m = team == home ? homeMatch(k) : awayMatch(k);
        const QList<PastMatch> before = team == home ? homeMatches(k + 1, listed) : awayMatches(k + 1, listed);
        const int opponent = m.homeId == team ? m.awayId : m.homeId;
        const QList<PastMatch> opponentList = {PastMatch{QStringLiteral("2021-01-01"), opponent, 999, 1, 1, 9999}};
        PageFacts p;
        p.homeId = m.homeId;
        p.awayId = m.awayId;
        p.homeName = QStringLiteral("主队");
        p.awayName = QStringLiteral("客队");
        p.kickOff = m.date + QStringLiteral(" 15:00");
        const bool teamAtHome = m.homeId == team;
        p.homeList = teamAtHome ? before : opponentList;
        p.awayList = teamAtHome ? opponentList : before;
        return p;
    }

    // Serves the analysed page and both extension pages under `base`.
    void serve(FakeWeb &web, const QString &base) const {
        addGbPage(web, pageUrl(base, analysedId), analysisPageHtml(analysedPage()));
        addGbPage(web, pageUrl(base, homeMatch(listed - 1).matchId), analysisPageHtml(extensionPage(home, listed - 1)));
        addGbPage(web, pageUrl(base, awayMatch(listed - 1).matchId), analysisPageHtml(extensionPage(away, listed - 1)));
    }

    static QString pageUrl(const QString &base, int matchId) {
        return base + QStringLiteral("analysis/%1cn.htm").arg(matchId);
    }

private:
    // The team's k-th match before the analysed one (k = 0 the newest).
    PastMatch teamMatch(int team, int k, int spacing, int firstId) const {
        PastMatch m;
        m.date = kickOff.date().addDays(-qint64(spacing) * (k + 1)).toString(QStringLiteral("yyyy-MM-dd"));
        const int opponent = 500 + team * 10 + k % 7;
        const bool atHome = k % 2 == 0;
        m.homeId = atHome ? team : opponent;
        m.awayId = atHome ? opponent : team;
        m.homeGoals = (k * 7 + team) % 4;
        m.awayGoals = (k * 3 + team / 2) % 3;
        m.matchId = firstId + k;
        m.extraFields = k == longRecord ? 20 : k % 5 == 0 ? 6 : 0;
        return m;
    }

    static QList<PastMatch> range(int from, int count, const std::function<PastMatch(int)> &make) {
        QList<PastMatch> out;
        for (int k = from; k < from + count; ++k)
            out << make(k);
        return out;
    }
};

} // namespace chenglan::testing
