#include "AnalysisPage.h"

#include "Handicap.h"
#include "PageText.h"
#include "Random.h"

namespace chenglan::sample {
namespace {

// A record field as a script literal: numbers bare, texts quoted.
struct Field {
    QString text;
    bool number = false;
};

std::vector<Field> recordFields(const World &world, const Match &m, int team) {
    const League &league = world.leagues()[size_t(m.league)];
    const Team &home = world.teams()[size_t(m.home)];
    const Team &away = world.teams()[size_t(m.away)];
    const OddsChange *odds = m.closingOdds();
    const int own = team == m.home ? m.ftHome : m.ftAway;
    const int other = team == m.home ? m.ftAway : m.ftHome;
    const auto num = [](auto v) { return Field{QString::number(v), true}; };
    const auto text = [](const QString &t) { return Field{t, false}; };

    std::vector<Field> f;
    f.push_back(text(dateTimeOf(m.kickoff).toString(QStringLiteral("yy-MM-dd"))));
    f.push_back(text(league.colour));
    f.push_back(text(league.shortName));
    f.push_back(num(league.id));
    f.push_back(num(home.id));
    f.push_back(text(home.name));
    f.push_back(num(away.id));
    f.push_back(text(away.name));
    f.push_back(num(m.ftHome));
    f.push_back(num(m.ftAway));
    f.push_back(text(QStringLiteral("%1-%2").arg(m.htHome).arg(m.htAway)));
    if (odds) {
        f.push_back(num(odds->line));
    } else {
        f.push_back(text(QString()));
    }
    f.push_back(num(own > other ? 1 : own == other ? 0 : -1));
    if (odds) {
        const double result = handicapResult(m.ftHome, m.ftAway, odds->line);
        // Adding 0.0 turns a push seen from the away side (-0) into a plain 0.
        f.push_back(num((team == m.home ? result : -result) + 0.0));
        f.push_back(text(m.ftHome + m.ftAway > 2 ? QStringLiteral("大") : QStringLiteral("小")));
    } else {
        f.push_back(text(QString()));
        f.push_back(text(QString()));
    }
    f.push_back(num(m.id));
    f.push_back(num(m.round));
    if (m.kickoff < minutesAt(QDate(2022, 1, 1)))
        return f;
    f.push_back(m.homeRank ? num(m.homeRank) : text(QString()));
    f.push_back(m.awayRank ? num(m.awayRank) : text(QString()));
    f.push_back(num(m.htHome));
    f.push_back(num(m.htAway));
    f.push_back(text(odds ? handicapText(odds->line) : QString()));
    if (m.detailedStats)
        for (int v : m.stats)
            f.push_back(num(v));
    return f;
}

QString scriptArray(const World &world, const std::vector<const Match *> &matches, int team) {
    if (matches.empty())
        return QStringLiteral("[]");
    QString out = QStringLiteral("[\r\n");
    for (size_t i = 0; i < matches.size(); ++i) {
        out += u'[';
        bool first = true;
        for (const Field &f : recordFields(world, *matches[i], team)) {
            if (!first)
                out += u',';
            first = false;
            out += f.number ? f.text : jsString(f.text);
        }
        out += i + 1 < matches.size() ? QStringLiteral("],\r\n") : QStringLiteral("]\r\n");
    }
    return out + u']';
}

QString weather(const Match &m) {
    Random rng = Random::stream(0, 7, m.id);
    static const char16_t *const skies[] = {u"晴", u"多云", u"阴", u"小雨", u"晴转多云", u"阵雨"};
    const QDate day = dayOf(m.kickoff);
    const int base = day.month() >= 5 && day.month() <= 9 ? 24 : (day.month() >= 11 || day.month() <= 2 ? 6 : 15);
    return QStringLiteral("%1 %2℃").arg(QString::fromUtf16(skies[rng.between(0, 5)])).arg(base + rng.between(-5, 6));
}

QString standingsTable(const World &world, const Match &m, Minutes now) {
    const auto table = world.standings(m.league, m.season, std::min(now, m.kickoff));
    QString out =
        QStringLiteral("<table class=\"list\" cellspacing=\"1\"><tr class=\"th\"><td>排名</td><td>球队</td><td>赛</td>"
                       "<td>胜</td><td>平</td><td>负</td><td>得</td><td>失</td><td>净</td><td>积分</td></tr>\r\n");
    for (size_t r = 0; r < table.size(); ++r) {
        const StandingRow &row = table[r];
        if (row.team != m.home && row.team != m.away)
            continue;
        out += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td><td>%5</td><td>%6</td><td>%7</td>"
                              "<td>%8</td><td>%9</td><td>%10</td></tr>\r\n")
                   .arg(r + 1)
                   .arg(htmlEscape(world.teams()[size_t(row.team)].name))
                   .arg(row.played)
                   .arg(row.won)
                   .arg(row.drawn)
                   .arg(row.lost)
                   .arg(row.goalsFor)
                   .arg(row.goalsAgainst)
                   .arg(row.goalsFor - row.goalsAgainst)
                   .arg(row.points());
    }
    return out + QStringLiteral("</table>\r\n");
}

QString fixturesTable(const World &world, const Match &m, int team) {
    QString out =
        QStringLiteral("<table class=\"list\" cellspacing=\"1\"><tr class=\"th\"><td colspan=\"4\">%1</td></tr>\r\n")
            .arg(htmlEscape(world.teams()[size_t(team)].name));
    const auto next = world.fixturesAfter(team, m.kickoff, 3);
    for (const Match *f : next) {
        out +=
            QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td></tr>\r\n")
                .arg(fullDateTime(f->kickoff), htmlEscape(world.leagues()[size_t(f->league)].shortName),
                     htmlEscape(world.teams()[size_t(f->home)].name), htmlEscape(world.teams()[size_t(f->away)].name));
    }
    if (next.empty())
        out += QStringLiteral("<tr><td colspan=\"4\">暂无赛程</td></tr>\r\n");
    return out + QStringLiteral("</table>\r\n");
}

const QString kHeadScript = QStringLiteral(
    "function $(id) { return document.getElementById(id); }\r\n"
    "function setCookie(name, value) {\r\n"
    "    var d = new Date(); d.setTime(d.getTime() + 30 * 24 * 3600 * 1000);\r\n"
    "    document.cookie = name + \"=\" + escape(value) + \";expires=\" + d.toGMTString() + \";path=/\";\r\n"
    "}\r\n"
    "function showTab(n) {\r\n"
    "    for (var i = 1; i <= 4; i++) { var t = $(\"tab\" + i); if (t) t.className = (i == n ? \"on\" : \"\"); }\r\n"
    "}\r\n");

// Draws the lists into the page once it has loaded; the site's own code,
// kept after the data so that the data stays at the top of the script.
const QString kListScript = QStringLiteral(
    "function resultText(code) { return code == 1 ? \"胜\" : (code == 0 ? \"平\" : \"负\"); }\r\n"
    "function drawList(data, boxId, teamId, count) {\r\n"
    "    var box = document.getElementById(boxId);\r\n"
    "    if (!box) return;\r\n"
    "    var table = document.createElement(\"table\");\r\n"
    "    table.className = \"list\";\r\n"
    "    var win = 0, draw = 0, lose = 0;\r\n"
    "    for (var i = 0; i < data.length && i < count; i++) {\r\n"
    "        var r = data[i];\r\n"
    "        var tr = table.insertRow(-1);\r\n"
    "        var cells = [r[2], r[0], r[5], r[8] + \"-\" + r[9] + \"(\" + r[10] + \")\", r[7], resultText(r[12]), r[21] || \"\"];\r\n"
    "        for (var j = 0; j < cells.length; j++) tr.insertCell(-1).innerHTML = cells[j];\r\n"
    "        tr.cells[0].style.backgroundColor = r[1];\r\n"
    "        if (r[12] == 1) win++; else if (r[12] == 0) draw++; else lose++;\r\n"
    "    }\r\n"
    "    box.appendChild(table);\r\n"
    "    var sum = document.createElement(\"div\");\r\n"
    "    sum.className = \"sum\";\r\n"
    "    sum.innerHTML = \"近\" + Math.min(count, data.length) + \"场，胜\" + win + \" 平\" + draw + \" 负\" + lose;\r\n"
    "    box.appendChild(sum);\r\n"
    "}\r\n"
    "function init() {\r\n"
    "    drawList(v_data, \"v_box\", h2h_home, 10);\r\n"
    "    drawList(h_data, \"h_box\", h2h_home, 20);\r\n"
    "    drawList(a_data, \"a_box\", h2h_away, 20);\r\n"
    "    if (lang == 1) showTab(2);\r\n"
    "}\r\n");

} // namespace

QStringList historyRecord(const World &world, const Match &match, int team) {
    QStringList out;
    for (const Field &f : recordFields(world, match, team))
        out << f.text;
    return out;
}

QByteArray analysisPage(const World &world, const Match &m, Minutes now) {
    const League &league = world.leagues()[size_t(m.league)];
    const Team &home = world.teams()[size_t(m.home)];
    const Team &away = world.teams()[size_t(m.away)];
    const auto homeList = world.history(m.home, m.kickoff, now, kHistoryLength);
    const auto awayList = world.history(m.away, m.kickoff, now, kHistoryLength);
    const auto meetings = world.meetings(m.home, m.away, m.kickoff, now, kMeetingsLength);
    const bool finished = m.finishedBy(now);

    QString page;
    page.reserve(48 * 1024);
    page +=
        QStringLiteral("<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
                       "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">\r\n"
                       "<html xmlns=\"http://www.w3.org/1999/xhtml\">\r\n<head>\r\n"
                       "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\" />\r\n"
                       "<title>%1 VS %2 赛前分析 - %3 - %4</title>\r\n"
                       "<meta name=\"keywords\" content=\"%1,%2,%3,赛前分析,对赛往绩,近期战绩\" />\r\n"
                       "<style type=\"text/css\">\r\n"
                       "body{margin:0;font:12px/1.6 \"宋体\",Tahoma;background:#eef2f5}\r\n"
                       "#top{background:#0b4f2f;color:#fff;height:34px;line-height:34px;padding:0 12px}\r\n"
                       "#top a{color:#fff;margin-right:12px;text-decoration:none}\r\n"
                       ".vs{width:980px;margin:8px auto;background:#fff;border:1px solid #cdd}\r\n"
                       ".vs td{text-align:center;padding:8px;font-size:14px}\r\n"
                       ".mod{width:980px;margin:8px auto;background:#fff;border:1px solid #cdd}\r\n"
                       ".mod h3{margin:0;padding:4px 8px;background:#e3ece6;font-size:13px}\r\n"
                       ".list{width:100%;background:#d8e0e6}.list td{background:#fff;text-align:center}\r\n"
                       ".list .th td{background:#f0f4f7;font-weight:bold}\r\n"
                       "#tabs span{padding:2px 10px;cursor:pointer}#tabs .on{background:#0b4f2f;color:#fff}\r\n"
                       "#footer{text-align:center;color:#888;padding:12px}\r\n"
                       "</style>\r\n"
                       "<script type=\"text/javascript\">\r\n%5</script>\r\n"
                       "</head>\r\n")
            .arg(htmlEscape(home.name), htmlEscape(away.name), htmlEscape(league.name), kAnalysisSiteName, kHeadScript);
    page +=
        QStringLiteral(
            "<body onload=\"init()\">\r\n"
            "<div id=\"top\"><b>%1</b>&nbsp;&nbsp;<a href=\"/zq/\">首页</a><a href=\"/zq/league/%2.htm\">%3</a>"
            "<a href=\"/zq/live.htm\">比分直播</a><a href=\"/odds/buy/Jingcai.aspx?TypeID=105&amp;OddsType=2&amp;date=\">竞彩</a>"
            "<span id=\"tabs\"><span id=\"tab1\" class=\"on\" onclick=\"showTab(1)\">简体</span>"
            "<span id=\"tab2\" onclick=\"changeLang(1)\">繁體</span></span></div>\r\n")
            .arg(kAnalysisSiteName)
            .arg(league.id)
            .arg(htmlEscape(league.shortName));
    page += QStringLiteral(
                "<table class=\"vs\"><tr>"
                "<td width=\"35%\"><a href=\"/zq/team/%1.htm\" target=\"_blank\"><b>%2</b></a><br />[%3%4]</td>"
                "<td width=\"30%\"><b>%5</b><br />%6 %7<br />场地：%8&nbsp;&nbsp;天气：%9</td>"
                "<td width=\"35%\"><a href=\"/zq/team/%10.htm\" target=\"_blank\"><b>%11</b></a><br />[%3%12]</td>"
                "</tr></table>\r\n")
                .arg(home.id)
                .arg(htmlEscape(home.name), htmlEscape(league.shortName),
                     m.homeRank ? QString::number(m.homeRank) : QStringLiteral("-"),
                     finished ? QStringLiteral("%1-%2").arg(m.ftHome).arg(m.ftAway) : QStringLiteral("VS"),
                     fullDateTime(m.kickoff), weekdayName(dayOf(m.kickoff)), htmlEscape(home.venue), weather(m))
                .arg(away.id)
                .arg(htmlEscape(away.name), m.awayRank ? QString::number(m.awayRank) : QStringLiteral("-"));

    page += QStringLiteral(
                "<script type=\"text/javascript\">\r\n"
                "var lang = 0;\r\n"
                "var matchState = %1;\r\n"
                "function changeLang(v) {\r\n"
                "    lang = v;\r\n"
                "    setCookie(\"lang\", v);\r\n"
                "    window.location.reload();\r\n"
                "}\r\n"
                "function show_info(URL) {\r\n"
                "    var w = window.open(URL, \"info\", \"width=760,height=520,scrollbars=yes,resizable=yes\");\r\n"
                "    if (w) w.focus();\r\n"
                "}\r\n")
                .arg(finished ? -1 : 0);
    page += QStringLiteral("var scheduleID = %1;\r\n").arg(m.id);
    page += QStringLiteral("var hometeam = %1;\r\n").arg(jsString(home.name));
    page += QStringLiteral("var guestteam = %1;\r\n").arg(jsString(away.name));
    page += QStringLiteral("var h2h_home = %1;\r\n").arg(home.id);
    page += QStringLiteral("var h2h_away = %1;\r\n").arg(away.id);
    page += QStringLiteral("var strTime = %1;\r\n").arg(jsString(fullDateTime(m.kickoff)));
    page += QStringLiteral("var h_data = %1;\r\n").arg(scriptArray(world, homeList, m.home));
    page += QStringLiteral("var a_data = %1;\r\n").arg(scriptArray(world, awayList, m.away));
    page += QStringLiteral("var v_data = %1;\r\n").arg(scriptArray(world, meetings, m.home));
    page += kListScript;
    page += QStringLiteral("</script>\r\n");

    page += QStringLiteral("<div class=\"mod\"><h3>对赛往绩</h3><div id=\"v_box\"></div></div>\r\n");
    page += QStringLiteral("<div class=\"mod\"><h3>%1 近期战绩</h3><div id=\"h_box\"></div></div>\r\n")
                .arg(htmlEscape(home.name));
    page += QStringLiteral("<div class=\"mod\"><h3>%1 近期战绩</h3><div id=\"a_box\"></div></div>\r\n")
                .arg(htmlEscape(away.name));
    page += QStringLiteral("<div class=\"mod\"><h3>联赛积分</h3>%1</div>\r\n").arg(standingsTable(world, m, now));
    page += QStringLiteral("<div class=\"mod\"><h3>未来赛事</h3>%1%2</div>\r\n")
                .arg(fixturesTable(world, m, m.home), fixturesTable(world, m, m.away));
    page +=
        QStringLiteral(
            "<div class=\"mod\"><h3>相关链接</h3><a href=\"javascript:show_info('/vip/changeDetail/handicap.aspx?id=%1&amp;companyID=3')\">亚盘变化</a>"
            "&nbsp;|&nbsp;<a href=\"javascript:show_info('/odds/1x2/%1.html')\">欧赔走势</a></div>\r\n")
            .arg(m.id);
    page += QStringLiteral("<div id=\"footer\">本站数据仅供参考。Copyright &copy; 2006-2026 %1</div>\r\n"
                           "<script type=\"text/javascript\">\r\n"
                           "function addFavorite() {\r\n"
                           "    try { window.external.addFavorite(window.location.href, document.title); }\r\n"
                           "    catch (e) { alert(\"请按 Ctrl+D 收藏本页\"); }\r\n"
                           "}\r\n"
                           "</script>\r\n"
                           "</body>\r\n</html>\r\n")
                .arg(kAnalysisSiteName);
    return gbBytes(page);
}

} // namespace chenglan::sample
