#include "usecases/SiteDoctor.h"

#include "support/AnalysisPages.h"
#include "support/FakeWeb.h"
#include "support/SchedulePages.h"

#include <QJsonArray>
#include <QStringEncoder>

#include <gtest/gtest.h>

using namespace chenglan;
using chenglan::testing::FakeWeb;
using namespace chenglan::testing;
using namespace Qt::StringLiterals;

namespace {

SiteBases testSites() {
    SiteBases sites;
    sites.odds = u"http://odds.test/"_qs;
    sites.analysis = u"http://analysis.test/"_qs;
    sites.detail = u"http://detail.test/"_qs;
    sites.service = u"http://service.test/"_qs;
    sites.serverList = u"http://list.test/"_qs;
    return sites;
}

const QString JingcaiUrl = u"http://odds.test/buy/Jingcai.aspx?TypeID=105&OddsType=2&date="_qs;
const QString BeidanUrl = u"http://odds.test/buy/DanChang.aspx?typeID=5&issueNum"_qs;
const QString AnalysisUrl = u"http://analysis.test/analysis/100cn.htm"_qs;
const QString DetailUrl = u"http://detail.test/changeDetail/handicap.aspx?id=100&companyID=3"_qs;
const QString ServiceUrl = u"http://service.test/shili/deep_jc.asp?sql=0,0,0,0,0,0,0,0,,,"_qs;
const QString LinkUrl = u"http://list.test/link(0).txt"_qs;

QByteArray gb(const QString &text) { return QStringEncoder("GB18030").encode(text); }

const QString DetailPage = u"<html><body><span id=\"odds2\"><table>"
                           u"<tr><td>比分</td><td>状态</td><td>主</td><td>盘口</td><td>客</td><td>时间</td></tr>"
                           u"<tr><td>0-0</td><td>即时</td><td>0.85</td><td>受让半球</td><td>1.01</td><td>05-19 19:55</td></tr>"
                           u"<tr><td>0-0</td><td>早盘</td><td>0.95</td><td>平手</td><td>0.93</td><td>05-18 20:15</td></tr>"
                           u"</table></span></body></html>"_s;

// Every page as the sites serve them today; a test then breaks one.
struct Sites {
    FakeWeb web;
    Sites() {
        const QString rows = schedule::matchRow(u"100"_s, u"英超"_s, u"曼联"_s, u"利物浦"_s);
        web.add(JingcaiUrl, schedule::jingcaiPage(rows).toUtf8());
        web.add(BeidanUrl, schedule::beidanPage(schedule::matchRow(u"200"_s, u"英超"_s, u"切尔西"_s, u"阿森纳"_s, u"-1"_s)).toUtf8());
        addGbPage(web, AnalysisUrl, analysisPageHtml(TwoTeamWorld().analysedPage()));
        web.add(DetailUrl, gb(DetailPage), 200, "text/html; charset=gb2312");
        web.add(ServiceUrl, "a,b,c,|d,e,f,|", 200, "text/plain");
        web.add(LinkUrl, "http://service.test/\r\n", 200, "text/plain");
    }
    DoctorReport run() { return diagnoseSites(web, testSites(), PageRenderer()); }
};

const PageCheck &page(const DoctorReport &r, const QString &name) {
    for (const PageCheck &p : r.pages)
        if (p.page == name)
            return p;
    throw std::runtime_error("no such page");
}

} // namespace

TEST(SiteDoctor, ReadsEveryPageOfHealthySites) {
    Sites sites;
    const DoctorReport r = sites.run();
    EXPECT_TRUE(r.ok()) << doctorTable(r).toStdString();
    ASSERT_EQ(r.pages.size(), 6);
    EXPECT_EQ(page(r, u"Jingcai schedule"_s).rows, 1);
    EXPECT_EQ(page(r, u"Jingcai schedule"_s).encoding, u"UTF-8"_s);
    EXPECT_EQ(page(r, u"Beidan schedule"_s).rows, 1);
    const PageCheck &analysis = page(r, u"analysis page"_s);
    EXPECT_EQ(analysis.encoding, u"GB18030"_s);
    EXPECT_EQ(analysis.rows, 60); // thirty records of each side
    EXPECT_EQ(page(r, u"change detail"_s).rows, 2);
    EXPECT_EQ(page(r, u"similar-match query"_s).rows, 2);
    EXPECT_EQ(page(r, u"link file of slot 0"_s).rows, 1);
    EXPECT_TRUE(doctorTable(r).contains(u"All pages read as expected."_s));
}

TEST(SiteDoctor, NamesTheMarkerAPageHasLost) {
    struct Case {
        QString page;
        QString marker;
        std::function<void(FakeWeb &)> breakIt;
    };
    const QList<Case> cases{
        {u"Jingcai schedule"_s, u"<div id=\"divdaohang\""_s,
         [](FakeWeb &w) {
             w.add(JingcaiUrl, schedule::jingcaiPage(schedule::matchRow(u"100"_s, u"英超"_s, u"曼联"_s, u"利物浦"_s))
                                   .replace(u"divDaoHang"_s, u"nav"_s)
                                   .toUtf8());
         }},
        {u"Beidan schedule"_s, u"参考sp值"_s,
         [](FakeWeb &w) {
             w.add(BeidanUrl, schedule::beidanPage(schedule::matchRow(u"200"_s, u"英超"_s, u"a"_s, u"b"_s))
                                  .replace(u"参考SP值"_s, u"SP"_s)
                                  .toUtf8());
         }},
        {u"analysis page"_s, u"function show_info(URL)\" or \"var lang = 0"_s,
         [](FakeWeb &w) {
             // Script data moved into an external file: the body has no script left.
             addGbPage(w, AnalysisUrl, u"<html><body><div>曼联 VS 利物浦</div></body></html>"_s);
         }},
        {u"change detail"_s, u"<span id=\"odds2\""_s,
         [](FakeWeb &w) { w.add(DetailUrl, gb(QString(DetailPage).replace(u"odds2"_s, u"odds"_s))); }},
        {u"similar-match query"_s, u"|"_s, [](FakeWeb &w) { w.add(ServiceUrl, "no records"); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.page.toStdString());
        Sites sites;
        c.breakIt(sites.web);
        const DoctorReport r = sites.run();
        EXPECT_FALSE(r.ok());
        const PageCheck &p = page(r, c.page);
        EXPECT_FALSE(p.ok());
        EXPECT_TRUE(p.problem().contains(u"\""_s + c.marker + u"\" missing"_s)) << p.problem().toStdString();
        EXPECT_TRUE(doctorTable(r).contains(c.marker)) << doctorTable(r).toStdString();
        bool inJson = false;
        for (const auto &m : doctorJson(r)[u"pages"_s].toArray()) {
            for (const auto &k : m.toObject()[u"markers"_s].toArray())
                if (k.toObject()[u"marker"_s].toString() == c.marker && !k.toObject()[u"found"_s].toBool())
                    inJson = true;
        }
        EXPECT_TRUE(inJson);
    }
}

TEST(SiteDoctor, TellsNetworkFailureSiteErrorAndBadEncodingApart) {
    Sites sites;
    sites.web.fail(LinkUrl, u"connection reset"_s);
    sites.web.add(ServiceUrl, "oops", 500);
    sites.web.add(DetailUrl, QByteArray("<span id=\"odds2\"><table>\x81"), 200);
    const DoctorReport r = sites.run();
    EXPECT_FALSE(r.ok());
    const PageCheck &link = page(r, u"link file of slot 0"_s);
    EXPECT_FALSE(link.reached);
    EXPECT_TRUE(link.problem().contains(u"connection reset"_s));
    const PageCheck &service = page(r, u"similar-match query"_s);
    EXPECT_EQ(service.status, 500);
    EXPECT_TRUE(service.problem().contains(u"HTTP 500"_s));
    const PageCheck &detail = page(r, u"change detail"_s);
    EXPECT_FALSE(detail.decodeError.isEmpty());
    EXPECT_TRUE(detail.problem().startsWith(u"not GB18030 text"_s)) << detail.problem().toStdString();
    EXPECT_TRUE(page(r, u"Jingcai schedule"_s).ok());
}

TEST(SiteDoctor, ADayWithoutMatchesIsNoSuccessAndLeavesTheMatchPagesUnchecked) {
    Sites sites;
    sites.web.add(JingcaiUrl, schedule::jingcaiPage(QString()).toUtf8());
    const DoctorReport r = sites.run();
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(page(r, u"Jingcai schedule"_s).rows, 0);
    EXPECT_TRUE(page(r, u"analysis page"_s).url.isEmpty());
    EXPECT_TRUE(page(r, u"change detail"_s).problem().contains(u"not checked"_s));
    EXPECT_EQ(sites.web.requests.size(), 4); // no match page asked for
}
