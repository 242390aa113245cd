#include "SchedulePages.h"

#include "Handicap.h"
#include "PageText.h"

#include <QRegularExpression>

namespace chenglan::sample {
namespace {

const QString kCrLf = QStringLiteral("\r\n");

enum class Game { Jingcai, Beidan };

QString pageHead(const QString &title, const QString &script) {
    return QStringLiteral("<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
                          "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">\r\n"
                          "<html xmlns=\"http://www.w3.org/1999/xhtml\">\r\n<head>\r\n"
                          "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\" />\r\n"
                          "<title>%1</title>\r\n"
                          "<meta name=\"keywords\" content=\"竞彩足球,北京单场,亚盘,赔率,比分\" />\r\n"
                          "<style type=\"text/css\">\r\n"
                          "body{margin:0;font:12px/1.5 Tahoma,\"宋体\";background:#f3f3f3}\r\n"
                          "#top{background:#1c5d99;color:#fff;height:36px;line-height:36px;padding:0 12px}\r\n"
                          "#top a{color:#fff;margin-right:14px;text-decoration:none}\r\n"
                          ".dateBar{padding:6px 12px;background:#fff;border-bottom:1px solid #ccd}\r\n"
                          ".oddsTable{width:100%;background:#c8d3e0}\r\n"
                          ".oddsTable td{background:#fff;text-align:center;height:24px}\r\n"
                          ".oddsTable .thead td,.oddsTable th{background:#dde6f0;font-weight:bold}\r\n"
                          ".oddsTable .row2 td{background:#f6f9fc}\r\n"
                          ".oddsTable .dayrow td{background:#fdf3d8;color:#8a5a00;text-align:left;padding-left:8px}\r\n"
                          ".red{color:#fff;background:#e00;padding:0 2px}\r\n"
                          ".daohang{padding:10px 12px;background:#fff;margin-top:6px}\r\n"
                          "#footer{color:#888;text-align:center;padding:12px}\r\n"
                          "</style>\r\n"
                          "<script type=\"text/javascript\">\r\n%2</script>\r\n"
                          "</head>\r\n")
        .arg(htmlEscape(title), script);
}

QString topBar() {
    return QStringLiteral(
               "<div id=\"top\"><b>%1</b>&nbsp;&nbsp;"
               "<a href=\"/\">首页</a><a href=\"/odds/buy/Jingcai.aspx?TypeID=105&amp;OddsType=2&amp;date=\">竞彩足球</a>"
               "<a href=\"/odds/buy/DanChang.aspx?typeID=5&amp;issueNum\">北京单场</a>"
               "<a href=\"/odds/live.aspx\">即时比分</a><a href=\"/odds/company.aspx\">公司对照</a></div>\r\n")
        .arg(kOddsSiteName);
}

QString navigationAndFooter() {
    return QStringLiteral(
               "<div id=\"divdaohang\" class=\"daohang\">导航：<a href=\"/odds/buy/Jingcai.aspx?TypeID=105&amp;OddsType=2&amp;date=\">竞彩让球</a> | "
               "<a href=\"/odds/buy/Jingcai.aspx?TypeID=105&amp;OddsType=1&amp;date=\">竞彩欧赔</a> | "
               "<a href=\"/odds/buy/DanChang.aspx?typeID=5&amp;issueNum\">北单亚盘</a> | "
               "<a href=\"/odds/buy/ZuCai.aspx?typeID=1\">足彩</a> | <a href=\"/zq/\">足球资料库</a></div>\r\n"
               "<div id=\"footer\">赔率数据仅供参考，请以官方公布为准。本站不提供任何形式的投注服务。<br />"
               "Copyright &copy; 2009-2026 %1 版权所有</div>\r\n"
               "</body>\r\n</html>\r\n")
        .arg(kOddsSiteName);
}

// The league cell: the colour style comes in the two spellings the site's
// templates use; the Beidan template knows only the first.
QString leagueCell(const League &league, bool compact) {
    const QString style = compact ? QStringLiteral("color: #FFFFFF;background-color: %1;")
                                  : QStringLiteral("color: #FFFFFF; background-color:%1;");
    return QStringLiteral("<td style=\"%1\"><a href=\"/odds/league/%2.html\" target=\"_blank\">%3</a></td>")
        .arg(style.arg(league.colour))
        .arg(league.id)
        .arg(htmlEscape(league.name));
}

QString letBallText(int letBall) {
    if (letBall == 0)
        return {};
    return (letBall > 0 ? QStringLiteral("+") : QStringLiteral("-")) + QString::number(std::abs(letBall));
}

QString matchRow(const World &world, const Match &m, const QString &number, bool compactStyle, Game game, Minutes now,
                 int index) {
    const League &league = world.leagues()[size_t(m.league)];
    const Team &home = world.teams()[size_t(m.home)];
    const Team &away = world.teams()[size_t(m.away)];
    const bool finished = m.finishedBy(now);
    const bool running = !finished && m.kickoff <= now;
    const OddsChange *odds = m.oddsAt(now);
    const QString id = QString::number(m.id);

    QString row;
    row.reserve(1400);
    row += QStringLiteral("<tr id=\"tr_%1\" class=\"%2\" name=\"%3\" align=\"center\">")
               .arg(id, index % 2 ? QStringLiteral("row2") : QStringLiteral("row1"))
               .arg(league.id);
    row += QStringLiteral("<td>%1</td>").arg(number);
    row += leagueCell(league, compactStyle);
    if (game == Game::Jingcai)
        row += QStringLiteral("<td>%1</td>")
                   .arg(finished  ? QStringLiteral("完")
                        : running ? QStringLiteral("进行中")
                                  : QStringLiteral("未开赛"));
    else
        row += QStringLiteral("<td>%1</td>").arg(dateTimeOf(m.kickoff - 10).toString(QStringLiteral("HH:mm")));
    row += QStringLiteral("<td>%1</td>").arg(monthDayTime(m.kickoff));
    row += QStringLiteral("<td class=\"home\"><span id=\"homered_%1\" class=\"red\"></span>"
                          "<a href=\"/zq/team/%2.html\" target=\"_blank\">%3</a>&nbsp;&nbsp;</td>")
               .arg(id)
               .arg(home.id)
               .arg(htmlEscape(home.name));
    row += QStringLiteral("<td class=\"let\">%1</td>").arg(letBallText(m.letBall));
    row += finished
               ? QStringLiteral("<td class=\"score\"><font color=\"red\">%1-%2</font></td>").arg(m.ftHome).arg(m.ftAway)
               : QStringLiteral("<td class=\"score\">VS</td>");
    const int awayRed = finished && m.detailedStats ? m.stats[11] : 0;
    row += QStringLiteral("<td class=\"guest\"><a href=\"/zq/team/%1.html\" target=\"_blank\">%2</a>"
                          "<span id=\"guestred_%3\" class=\"red\">%4</span></td>")
               .arg(away.id)
               .arg(htmlEscape(away.name), id, awayRed ? QString::number(awayRed) : QString());
    row +=
        QStringLiteral("<td>%1</td>").arg(finished ? QStringLiteral("%1-%2").arg(m.htHome).arg(m.htAway) : QString());
    row += QStringLiteral("<td>%1</td><td>%2</td><td>%3</td>")
               .arg(priceText(m.spHome), priceText(m.spDraw), priceText(m.spAway));
    row += QStringLiteral("<td class=\"links\"><a href=\"/zq/analysis/%1cn.htm\" target=\"_blank\">析</a>&nbsp;"
                          "<a target=\"_blank\" href=\"/odds/handicap/%1.html\">亚</a>&nbsp;"
                          "<a href=\"/odds/1x2/%1.html\" target=\"_blank\">欧</a></td>")
               .arg(id);
    if (odds)
        row += QStringLiteral("<td class=\"odds\">%1</td><td class=\"odds\">%2</td><td class=\"odds\">%3</td>")
                   .arg(priceText(odds->homeOdds), handicapText(odds->line), priceText(odds->awayOdds));
    else
        row += QStringLiteral("<td class=\"odds\"></td><td class=\"odds\"></td><td class=\"odds\"></td>");
    if (game == Game::Jingcai)
        row += QStringLiteral("<td><a href=\"javascript:hideRow(%1);\" title=\"隐藏本场\">隐</a></td>").arg(id);
    else
        row += QStringLiteral("<td>%1</td>").arg(priceText(m.letBall == 0 ? m.spHome : m.spHome * 1.9));
    row += QStringLiteral("</tr>\r\n");
    return row;
}

const QString kScheduleScript = QStringLiteral(
    "function ShowAllRows() {\r\n"
    "    var rows = document.getElementById(\"table_live\").rows;\r\n"
    "    for (var i = 0; i < rows.length; i++) rows[i].style.display = \"\";\r\n"
    "    document.getElementById(\"hiddenCount\").innerHTML = \"0\";\r\n"
    "}\r\n"
    "function hideRow(id) {\r\n"
    "    var tr = document.getElementById(\"tr_\" + id);\r\n"
    "    if (tr) { tr.style.display = \"none\"; var c = document.getElementById(\"hiddenCount\"); c.innerHTML = parseInt(c.innerHTML, 10) + 1; }\r\n"
    "}\r\n"
    "function changeDate(d) {\r\n"
    "    window.location.href = \"Jingcai.aspx?TypeID=105&OddsType=2&date=\" + d;\r\n"
    "}\r\n"
    "function changeIssue(n) {\r\n"
    "    window.location.href = \"DanChang.aspx?typeID=5&issueNum=\" + n;\r\n"
    "}\r\n");

QString plainDate(const QDate &day) {
    return QStringLiteral("%1-%2-%3").arg(day.year()).arg(day.month()).arg(day.day());
}

// A base64-looking view state as ASP.NET forms carry; derived from the page's
// subject so the same request always gets the same page.
QString viewState(quint64 salt) {
    QString s = QStringLiteral("/wEPDwUKLTg");
    const char *alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    quint64 x = salt * 0x9e3779b97f4a7c15ULL + 1;
    for (int i = 0; i < 40; ++i) {
        x ^= x >> 29;
        x *= 0xbf58476d1ce4e5b9ULL;
        s += QChar(alphabet[x % 64]);
    }
    return s + QStringLiteral("ZGQ=");
}

} // namespace

Minutes matchDayStart(const QDate &day) { return minutesAt(day, 12, 0); }

QByteArray jingcaiPage(const World &world, const QDate &day, Minutes now) {
    const auto matches = world.kickingOffBetween(matchDayStart(day), matchDayStart(day.addDays(1)));
    QString page =
        pageHead(QStringLiteral("竞彩足球让球亚盘对照_%1_%2").arg(plainDate(day), kOddsSiteName), kScheduleScript);
    page += QStringLiteral("<body>\r\n");
    page += topBar();
    page += QStringLiteral("<div class=\"dateBar\">选择日期：");
    for (int back = 3; back >= -1; --back) {
        const QDate d = day.addDays(-back);
        page += back == 0
                    ? QStringLiteral("<b>%1月%2日</b> ").arg(d.month()).arg(d.day())
                    : QStringLiteral("<a href=\"Jingcai.aspx?TypeID=105&amp;OddsType=2&amp;date=%1\">%2月%3日</a> ")
                          .arg(plainDate(d))
                          .arg(d.month())
                          .arg(d.day());
    }
    page += QStringLiteral("&nbsp;&nbsp;已隐藏 <span id=\"hiddenCount\">0</span> 场</div>\r\n");
    page +=
        QStringLiteral(
            "<form name=\"form1\" method=\"post\" action=\"Jingcai.aspx?TypeID=105&amp;OddsType=2&amp;date=%1\" id=\"form1\">\r\n"
            "<input type=\"hidden\" name=\"__VIEWSTATE\" id=\"__VIEWSTATE\" value=\"%2\" />\r\n")
            .arg(plainDate(day), viewState(quint64(day.toJulianDay())));
    page += QStringLiteral(
        "<table id=\"table_live\" width=\"100%\" cellpadding=\"0\" cellspacing=\"1\" class=\"oddsTable\">\r\n"
        "<tr class=\"thead\"><td width=\"6%\">编号</td><td width=\"9%\">赛事</td><td width=\"5%\">状态</td>"
        "<td width=\"8%\">比赛时间</td><td width=\"11%\">主队</td><td width=\"4%\">让球</td><td width=\"5%\">比分</td>"
        "<td width=\"11%\">客队</td><td width=\"4%\">半场</td><td width=\"4%\">胜</td><td width=\"4%\">平</td>"
        "<td width=\"4%\">负</td><td width=\"7%\">资料</td><td width=\"4%\">主水</td><td width=\"7%\">盘口</td>"
        "<td width=\"4%\">客水</td><td width=\"3%\"><a href=\"javascript:ShowAllRows();\"><u>显示</u></a></td></tr>\r\n");
    page += QStringLiteral(
                "<tr class=\"dayrow\"><td colspan=\"17\">%1年%2月%3日 %4 12:00 至次日 12:00 共 %5 场比赛</td></tr>\r\n")
                .arg(day.year())
                .arg(day.month())
                .arg(day.day())
                .arg(weekdayName(day))
                .arg(matches.size());
    const QString weekday = weekdayName(day);
    int index = 0;
    for (const Match *m : matches) {
        const League &league = world.leagues()[size_t(m->league)];
        const QString number = weekday + QStringLiteral("%1").arg(index + 1, 3, 10, QChar(u'0'));
        page += matchRow(world, *m, number, league.compactStyle, Game::Jingcai, now, index);
        ++index;
    }
    if (matches.empty())
        page += QStringLiteral("<tr><td colspan=\"17\">该日暂无竞彩赛事</td></tr>\r\n");
    page += QStringLiteral("</table>\r\n</form>\r\n");
    page += navigationAndFooter();
    return page.toUtf8();
}

BeidanIssue beidanIssueAt(Minutes when) {
    // Walk the opening days of the month that contains `when`'s issue.
    const QDate day = dayOf(when - 12 * 60);
    QDate opening = day;
    while (opening.dayOfWeek() != 1 && opening.dayOfWeek() != 4)
        opening = opening.addDays(-1);
    const QDate next = opening.addDays(opening.dayOfWeek() == 1 ? 3 : 4);
    int place = 0;
    for (QDate d(opening.year(), opening.month(), 1); d <= opening; d = d.addDays(1))
        if (d.dayOfWeek() == 1 || d.dayOfWeek() == 4)
            ++place;
    BeidanIssue issue;
    issue.number = QStringLiteral("%1%2%3")
                       .arg(opening.year() % 100, 2, 10, QChar(u'0'))
                       .arg(opening.month(), 2, 10, QChar(u'0'))
                       .arg(place, 2, 10, QChar(u'0'));
    issue.from = minutesAt(opening, 12, 0);
    issue.to = minutesAt(next, 12, 0);
    return issue;
}

std::optional<BeidanIssue> beidanIssueNumbered(const QString &number) {
    static const QRegularExpression form(QStringLiteral("^(\\d{2})(\\d{2})(\\d{2})$"));
    const auto m = form.match(number.trimmed());
    if (!m.hasMatch())
        return std::nullopt;
    const QDate first(2000 + m.captured(1).toInt(), m.captured(2).toInt(), 1);
    if (!first.isValid())
        return std::nullopt;
    int place = 0;
    for (QDate d = first; d.month() == first.month(); d = d.addDays(1)) {
        if (d.dayOfWeek() != 1 && d.dayOfWeek() != 4)
            continue;
        if (++place == m.captured(3).toInt())
            return beidanIssueAt(minutesAt(d, 12, 0));
    }
    return std::nullopt;
}

QByteArray beidanPage(const World &world, const BeidanIssue &issue, Minutes now) {
    const auto matches = world.kickingOffBetween(issue.from, issue.to);
    QString page =
        pageHead(QStringLiteral("北京单场第%1期亚盘对照_%2").arg(issue.number, kOddsSiteName), kScheduleScript);
    page += QStringLiteral("<body>\r\n");
    page += topBar();
    page += QStringLiteral(
        "<div class=\"dateBar\">北京单场 期号：<select name=\"issueNum\" onchange=\"changeIssue(this.value)\">");
    BeidanIssue shown = beidanIssueAt(now);
    for (int k = 0; k < 4; ++k) {
        page +=
            QStringLiteral("<option value=\"%1\"%2>%1期</option>")
                .arg(shown.number, shown.number == issue.number ? QStringLiteral(" selected=\"selected\"") : QString());
        shown = beidanIssueAt(shown.from - 1);
    }
    page += QStringLiteral("</select>&nbsp;&nbsp;本期共 %1 场，销售截止时间为比赛开始前10分钟。</div>\r\n")
                .arg(matches.size());
    page += QStringLiteral(
        "<table id=\"table_live\" width=\"100%\" cellpadding=\"0\" cellspacing=\"1\" class=\"oddsTable\">\r\n"
        "<tr><th width=\"4%\">场次</th><th width=\"9%\">赛事</th><th width=\"5%\">截止</th><th width=\"8%\">比赛时间</th>"
        "<th width=\"11%\">主队</th><th width=\"4%\">让球</th><th width=\"5%\">比分</th><th width=\"11%\">客队</th>"
        "<th width=\"4%\">半场</th><th width=\"4%\">胜</th><th width=\"4%\">平</th><th width=\"4%\">负</th>"
        "<th width=\"7%\">资料</th><th width=\"4%\">主水</th><th width=\"7%\">盘口</th><th width=\"4%\">客水</th>"
        "<th width=\"5%\">参考SP值</th></tr>\r\n        ");
    int index = 0;
    for (const Match *m : matches) {
        page += matchRow(world, *m, QString::number(index + 1), false, Game::Beidan, now, index);
        ++index;
    }
    page += QStringLiteral("</table>\r\n");
    page += QStringLiteral("<div class=\"daohang\">提示：参考SP值为上期同类赛事平均值，仅供参考。</div>\r\n");
    page += navigationAndFooter();
    return page.toUtf8();
}

} // namespace chenglan::sample
