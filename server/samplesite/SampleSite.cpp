#include "SampleSite.h"

#include "AnalysisPage.h"
#include "DetailPage.h"
#include "PageText.h"
#include "SchedulePages.h"

#include <QRegularExpression>

namespace chenglan::sample {
namespace {

const QByteArray kUtf8Html = QByteArrayLiteral("text/html; charset=utf-8");
const QByteArray kGbHtml = QByteArrayLiteral("text/html; charset=gb2312");

QString queryValue(const QMultiMap<QString, QString> &query, const QString &key, bool *present = nullptr) {
    for (auto it = query.constBegin(); it != query.constEnd(); ++it)
        if (it.key().compare(key, Qt::CaseInsensitive) == 0) {
            if (present)
                *present = true;
            return it.value();
        }
    if (present)
        *present = false;
    return {};
}

std::optional<QDate> parseDay(const QString &text) {
    static const QRegularExpression form(QStringLiteral("^\\s*(\\d{4})[-/](\\d{1,2})[-/](\\d{1,2})\\s*$"));
    const auto m = form.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    const QDate day(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    return day.isValid() ? std::optional<QDate>(day) : std::nullopt;
}

// The site's own page for a match id it does not have.
Reply missingMatchReply(const QString &idText) {
    const QString page =
        QStringLiteral(
            "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
            "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">\r\n"
            "<html xmlns=\"http://www.w3.org/1999/xhtml\">\r\n<head>\r\n"
            "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\" />\r\n"
            "<title>比赛不存在 - %1</title>\r\n"
            "<style type=\"text/css\">body{font:12px/1.8 \"宋体\";background:#eef2f5}"
            ".box{width:480px;margin:80px auto;background:#fff;border:1px solid #cdd;padding:20px;text-align:center}</style>\r\n"
            "</head>\r\n<body>\r\n<div class=\"box\"><h2>对不起，您要查看的比赛不存在</h2>"
            "<p>比赛编号 %2 没有找到，可能已被删除或编号有误。</p>"
            "<p><a href=\"/zq/\">返回资料库首页</a> | <a href=\"/odds/buy/Jingcai.aspx?TypeID=105&amp;OddsType=2&amp;date=\">今日竞彩</a></p></div>\r\n"
            "</body>\r\n</html>\r\n")
            .arg(kAnalysisSiteName, htmlEscape(idText));
    return {404, kGbHtml, gbBytes(page)};
}

} // namespace

Reply notFoundReply() {
    const QString page = QStringLiteral(
        "<!DOCTYPE html>\r\n<html>\r\n<head>\r\n<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\" />\r\n"
        "<title>404 - 找不到文件或目录。</title>\r\n</head>\r\n<body>\r\n"
        "<div id=\"header\"><h1>服务器错误</h1></div>\r\n"
        "<div id=\"content\"><h2>404 - 找不到文件或目录。</h2>\r\n"
        "<h3>您要查找的资源可能已被删除，已更改名称或者暂时不可用。</h3></div>\r\n"
        "</body>\r\n</html>\r\n");
    return {404, kUtf8Html, page.toUtf8()};
}

SampleSite::SampleSite(World world, Clock clock, QString serviceUrl)
    : m_world(std::move(world)), m_clock(std::move(clock)), m_serviceUrl(std::move(serviceUrl)) {}

SampleSite::Clock SampleSite::fixedClock(const QDate &today) {
    const Minutes noon = minutesAt(today, 12, 0);
    return [noon] { return noon; };
}

SampleSite::Clock SampleSite::realClock() {
    return [] { return QDateTime::currentSecsSinceEpoch() / 60 + 8 * 60; };
}

Reply SampleSite::answer(const QString &path, const QMultiMap<QString, QString> &query) const {
    static const QRegularExpression analysisPath(QStringLiteral("^/zq/analysis/([^/]*)cn\\.htm$"),
                                                 QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression handicapLink(QStringLiteral("^/odds/handicap/(\\d+)\\.html$"),
                                                 QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression linkFile(QStringLiteral("^/servers/link\\(([0-2])\\)\\.txt$"),
                                             QRegularExpression::CaseInsensitiveOption);
    const QString lower = path.toLower();
    if (lower == u"/" || lower == u"/index.htm")
        return index();
    if (lower == u"/odds/buy/jingcai.aspx")
        return jingcai(query);
    if (lower == u"/odds/buy/danchang.aspx")
        return beidan(query);
    if (lower == u"/vip/changedetail/handicap.aspx") {
        bool present = false;
        const QString company = queryValue(query, QStringLiteral("companyID"), &present);
        return detail(queryValue(query, QStringLiteral("id")), present ? company.toInt() : kHandicapCompany);
    }
    if (const auto m = analysisPath.match(path); m.hasMatch())
        return analysis(m.captured(1));
    if (const auto m = handicapLink.match(path); m.hasMatch())
        return detail(m.captured(1), kHandicapCompany);
    if (const auto m = linkFile.match(path); m.hasMatch()) {
        // Slot 1's file was saved by an editor that ends the last line.
        const QString text = m.captured(1) == u"1" ? m_serviceUrl + QStringLiteral("\r\n") : m_serviceUrl;
        return {200, QByteArrayLiteral("text/plain"), text.toUtf8()};
    }
    return notFoundReply();
}

Reply SampleSite::jingcai(const QMultiMap<QString, QString> &query) const {
    const Minutes now = m_clock();
    // No date, or one the site cannot read: the site's today.
    const QDate day = parseDay(queryValue(query, QStringLiteral("date"))).value_or(dayOf(now));
    return {200, kUtf8Html, jingcaiPage(m_world, day, now)};
}

Reply SampleSite::beidan(const QMultiMap<QString, QString> &query) const {
    const Minutes now = m_clock();
    const auto asked = beidanIssueNumbered(queryValue(query, QStringLiteral("issueNum")));
    return {200, kUtf8Html, beidanPage(m_world, asked.value_or(beidanIssueAt(now)), now)};
}

Reply SampleSite::analysis(const QString &idText) const {
    bool ok = false;
    const int id = idText.toInt(&ok);
    const Match *match = ok ? m_world.matchById(id) : nullptr;
    if (!match)
        return missingMatchReply(idText);
    return {200, kGbHtml, analysisPage(m_world, *match, m_clock())};
}

Reply SampleSite::detail(const QString &idText, int company) const {
    bool ok = false;
    const int id = idText.toInt(&ok);
    const Match *match = ok ? m_world.matchById(id) : nullptr;
    if (!match)
        return missingMatchReply(idText);
    return {200, kGbHtml, handicapDetailPage(m_world, *match, company, m_clock())};
}

Reply SampleSite::index() const {
    const Minutes now = m_clock();
    const QDate today = dayOf(now);
    const auto matches = m_world.kickingOffBetween(matchDayStart(today.addDays(-1)), matchDayStart(today));
    QString sample = matches.empty() ? QString() : QString::number(matches.front()->id);
    QString page =
        QStringLiteral(
            "<!DOCTYPE html>\r\n<html>\r\n<head>\r\n<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\" />\r\n"
            "<title>%1</title>\r\n</head>\r\n<body>\r\n<h1>%1</h1>\r\n<ul>\r\n"
            "<li><a href=\"/odds/buy/Jingcai.aspx?TypeID=105&amp;OddsType=2&amp;date=\">竞彩足球 亚盘对照</a></li>\r\n"
            "<li><a href=\"/odds/buy/DanChang.aspx?typeID=5&amp;issueNum\">北京单场 亚盘对照</a></li>\r\n")
            .arg(kOddsSiteName);
    if (!sample.isEmpty())
        page += QStringLiteral(
                    "<li><a href=\"/zq/analysis/%1cn.htm\">%2 赛前分析</a></li>\r\n"
                    "<li><a href=\"/vip/changeDetail/handicap.aspx?id=%1&amp;companyID=3\">亚盘变化</a></li>\r\n")
                    .arg(sample, kAnalysisSiteName);
    page += QStringLiteral("</ul>\r\n<p>数据日期：%1 至 %2</p>\r\n</body>\r\n</html>\r\n")
                .arg(World::firstDay().toString(Qt::ISODate), m_world.lastDay().toString(Qt::ISODate));
    return {200, kUtf8Html, page.toUtf8()};
}

} // namespace chenglan::sample
