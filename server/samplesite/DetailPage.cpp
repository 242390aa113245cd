#include "DetailPage.h"

#include "Handicap.h"
#include "PageText.h"

namespace chenglan::sample {
namespace {

QString companyOption(int id, const QString &name, int selected) {
    return QStringLiteral("<option value=\"%1\"%2>%3</option>")
        .arg(id)
        .arg(id == selected ? QStringLiteral(" selected=\"selected\"") : QString(), name);
}

QString summaryRow(const QString &caption, const OddsChange *c) {
    if (!c)
        return QStringLiteral("<tr><td>%1</td><td>-</td><td>-</td><td>-</td></tr>\r\n").arg(caption);
    return QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td></tr>\r\n")
        .arg(caption, priceText(c->homeOdds), handicapText(c->line), priceText(c->awayOdds));
}

} // namespace

QByteArray handicapDetailPage(const World &world, const Match &m, int company, Minutes now) {
    const League &league = world.leagues()[size_t(m.league)];
    const Team &home = world.teams()[size_t(m.home)];
    const Team &away = world.teams()[size_t(m.away)];
    std::vector<const OddsChange *> shown;
    if (company == kHandicapCompany)
        for (const OddsChange &c : m.changes)
            if (c.time <= now)
                shown.insert(shown.begin(), &c);
    const OddsChange *opening = nullptr;
    for (auto it = shown.rbegin(); it != shown.rend() && !opening; ++it)
        if ((*it)->hasOdds)
            opening = *it;

    QString page =
        QStringLiteral(
            "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
            "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">\r\n"
            "<html xmlns=\"http://www.w3.org/1999/xhtml\">\r\n<head>\r\n"
            "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\" />\r\n"
            "<title>%1 VS %2 亚盘变化 - %3</title>\r\n"
            "<style type=\"text/css\">\r\n"
            "body{margin:0;font:12px/1.6 \"宋体\",Tahoma;background:#fff}\r\n"
            ".title{background:#1c5d99;color:#fff;padding:6px 10px;font-size:14px}\r\n"
            ".bar{padding:6px 10px;border-bottom:1px solid #ccd}\r\n"
            "table{border-collapse:collapse;margin:6px 0}td{border:1px solid #ccd;padding:2px 6px;text-align:center}\r\n"
            ".thead td{background:#e6edf5;font-weight:bold}.up{color:#d00}.down{color:#080}\r\n"
            "</style>\r\n"
            "<script type=\"text/javascript\">\r\n"
            "function selectCompany(cid) {\r\n"
            "    window.location.href = \"handicap.aspx?id=%4&companyID=\" + cid;\r\n"
            "}\r\n"
            "</script>\r\n"
            "</head>\r\n<body>\r\n")
            .arg(htmlEscape(home.name), htmlEscape(away.name), kOddsSiteName, QString::number(m.id));
    page += QStringLiteral("<div class=\"title\">%1&nbsp;&nbsp;%2 VS %3&nbsp;&nbsp;比赛时间：%4</div>\r\n")
                .arg(htmlEscape(league.name), htmlEscape(home.name), htmlEscape(away.name), fullDateTime(m.kickoff));
    page +=
        QStringLiteral("<div class=\"bar\">公司：<select onchange=\"selectCompany(this.value)\">%1%2%3%4</select>"
                       "&nbsp;&nbsp;数据为该公司亚洲盘口的全部变化，时间为北京时间。</div>\r\n")
            .arg(companyOption(1, QStringLiteral("澳盘"), company), companyOption(3, QStringLiteral("晴川"), company),
                 companyOption(8, QStringLiteral("东方"), company), companyOption(12, QStringLiteral("盛利"), company));
    page += QStringLiteral(
        "<span id=\"odds1\"><table width=\"360\"><tr class=\"thead\"><td></td><td>主队</td><td>盘口</td><td>客队</td></tr>\r\n");
    page += summaryRow(QStringLiteral("初盘"), opening);
    page += summaryRow(QStringLiteral("即时"), m.oddsAt(now));
    page += QStringLiteral("</table></span>\r\n");
    page += QStringLiteral(
        "<span id=\"odds2\"><table width=\"100%\" cellpadding=\"0\" cellspacing=\"0\">\r\n"
        "<tr class=\"thead\"><td>比分</td><td>状态</td><td>主队</td><td>盘口</td><td>客队</td><td>变化时间</td></tr>\r\n");
    const OddsChange *older = nullptr;
    for (size_t i = 0; i < shown.size(); ++i) {
        const OddsChange &c = *shown[i];
        older = nullptr;
        for (size_t j = i + 1; j < shown.size() && !older; ++j)
            if (shown[j]->hasOdds)
                older = shown[j];
        if (!c.hasOdds) {
            page += QStringLiteral("<tr><td>%1</td><td>%2</td><td></td><td>封</td><td></td><td>%3</td></tr>\r\n")
                        .arg(c.score, c.state, monthDayTime(c.time));
            continue;
        }
        const QString homeClass = older && c.homeOdds > older->homeOdds   ? QStringLiteral(" class=\"up\"")
                                  : older && c.homeOdds < older->homeOdds ? QStringLiteral(" class=\"down\"")
                                                                          : QString();
        page += QStringLiteral("<tr><td>%1</td><td>%2</td><td%3>%4</td><td>%5</td><td>%6</td><td>%7</td></tr>\r\n")
                    .arg(c.score, c.state, homeClass, priceText(c.homeOdds), handicapText(c.line),
                         priceText(c.awayOdds), monthDayTime(c.time));
    }
    if (shown.empty())
        page += QStringLiteral("<tr><td colspan=\"6\">暂无数据</td></tr>\r\n");
    page +=
        QStringLiteral("</table></span>\r\n"
                       "<div class=\"bar\">说明：红色表示水位上升，绿色表示水位下降；\"封\"表示暂停接受投注。</div>\r\n"
                       "</body>\r\n</html>\r\n");
    return gbBytes(page);
}

} // namespace chenglan::sample
