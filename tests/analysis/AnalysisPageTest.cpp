#include "sites/AnalysisPage.h"

#include "support/AnalysisPages.h"

#include <QStringEncoder>

#include <gtest/gtest.h>

using namespace chenglan;
using namespace chenglan::testing;
using namespace Qt::StringLiterals;

namespace {

const QString Base = QStringLiteral("http://analysis.test/");

SiteBases bases() {
    SiteBases b;
    b.analysis = Base;
    return b;
}

ValueArray elements(std::initializer_list<Value> values) {
    ValueArray a(4);
    int i = 0;
    for (const Value &v : values)
        a.set(i++, v);
    return a;
}

} // namespace

TEST(AnalysisPageScript, CutsFromTheFirstMarkerToTheClosingTag) {
    using analysispage::scriptCode;
    EXPECT_EQ(scriptCode(u"<div>x</div><script>var a;  function show_info(URL) {}  </SCRIPT><p>y</p></SCRIPT>"_s),
              u"function show_info(URL) {}"_s);
    // The second marker is only a fallback, even when it comes first.
    EXPECT_EQ(scriptCode(u"var lang = 0; var b; function show_info(URL) {} </SCRIPT>"_s), u"function show_info(URL) {}"_s);
    EXPECT_EQ(scriptCode(u"<script> var lang = 0;\nvar h_data = [];\n</SCRIPT>"_s), u"var lang = 0;\nvar h_data = [];\n"_s);
    // Without a marker the cut starts at the beginning of the body.
    EXPECT_EQ(scriptCode(u"  <script>var a = 1;</SCRIPT>"_s), u"<script>var a = 1;"_s);
    // The closing tag is matched in upper case only.
    EXPECT_EQ(scriptCode(u"var lang = 0; x </script> y"_s), u"var lang = 0; x </script> y"_s);
}

TEST(AnalysisPageScript, DumpPageRunsTheCodeThenWritesTheSections) {
    const QString page = analysispage::dumpPage(u"var h_data = [];"_s);
    EXPECT_TRUE(page.startsWith(u"<script language=\"javascript\">var h_data = [];var len = h_data.length;"_s));
    EXPECT_TRUE(page.contains(u"document.write (h2h_home+\",\"+h2h_away+\",\"+hometeam+\",\"+guestteam+\",\"+strTime);</SCRIPT>"_s));
}

TEST(AnalysisPageScript, SplitsTheTextIntoFourSections) {
    using analysispage::sections;
    EXPECT_EQ(sections(u"a|b|$c|$$1,2,x,y,t"_s),
              elements({Value(u"a|b|"), Value(u"c|"), Value(QString()), Value(u"1,2,x,y,t")}));
    EXPECT_EQ(sections(u"a|$b|"_s), elements({Value(u"a|"), Value(u"b|")}));
    EXPECT_EQ(sections(u"a$b$c$d$e$f"_s), elements({Value(u"a"), Value(u"b"), Value(u"c"), Value(u"d")}));
    EXPECT_EQ(sections(QString()), ValueArray(4));
    EXPECT_EQ(analysispage::url(bases(), Value(1234.0)), u"http://analysis.test/analysis/1234cn.htm"_s);
    EXPECT_EQ(analysispage::url(bases(), Value()), u"http://analysis.test/analysis/cn.htm"_s);
}

TEST(LoadAnalysisPage, ReadsTheFourSectionsOfAPage) {
    TwoTeamWorld world;
    PageFacts facts = world.analysedPage();
    facts.homeList = world.homeMatches(0, 2);
    facts.thirdList = {};
    FakeWeb web;
    addGbPage(web, TwoTeamWorld::pageUrl(Base, 100), analysisPageHtml(facts));
    AnalysisState s;
    s.currentMatchId = Value(100.0);
    StepLog log;
    loadAnalysisPage(s, web, bases(), PageRenderer(), &log);
    EXPECT_TRUE(log.empty()) << log.first(FailureKind::Data).toStdString();
    EXPECT_EQ(web.requests, QStringList{TwoTeamWorld::pageUrl(Base, 100)});
    ASSERT_EQ(s.analysisData.size(), 4);
    const QString expectedHome = world.homeMatch(0).fields(11).join(u',') + u'|' + world.homeMatch(1).fields(11).join(u',') + u'|';
    EXPECT_EQ(s.analysisData.at(0), Value(expectedHome));
    EXPECT_EQ(s.analysisData.at(1).text().count(u'|'), 30);
    EXPECT_EQ(s.analysisData.at(2), Value(QString())); // an empty list gives an empty section
    EXPECT_EQ(s.analysisData.at(3), Value(u"11,22,曼联,利物浦,2022-05-20 19:30"));
}

TEST(LoadAnalysisPage, PageWithoutMarkersOrFetchGivesEmptySections) {
    FakeWeb web;
    addGbPage(web, TwoTeamWorld::pageUrl(Base, 7),
              u"<html><body><p>比赛不存在</p><script>var h_data = [['a']];</script></body></html>"_s);
    AnalysisState s;
    s.analysisData = elements({Value(u"old"), Value(u"old"), Value(u"old"), Value(u"old")});
    s.currentMatchId = Value(u"7");
    loadAnalysisPage(s, web, bases(), PageRenderer());
    EXPECT_EQ(s.analysisData, ValueArray(4));

    s.analysisData = elements({Value(u"old")});
    s.currentMatchId = Value(u"8");
    StepLog log;
    loadAnalysisPage(s, web, bases(), PageRenderer(), &log);
    EXPECT_EQ(s.analysisData, ValueArray(4));
    EXPECT_TRUE(log.has(FailureKind::Network));
}

TEST(LoadAnalysisPage, NamesTheSitePageAndMarkerALayoutChangeRemoved) {
    FakeWeb web;
    addGbPage(web, TwoTeamWorld::pageUrl(Base, 7),
              u"<html><body><p>比赛不存在</p><script>var h_data = [['a']];</script></body></html>"_s);
    AnalysisState s;
    s.currentMatchId = Value(u"7");
    StepLog log;
    loadAnalysisPage(s, web, bases(), PageRenderer(), &log);
    ASSERT_TRUE(log.has(FailureKind::Layout)) << log.first(FailureKind::Layout).toStdString();
    const QString first = log.first(FailureKind::Layout);
    EXPECT_TRUE(first.startsWith(u"analysis site, analysis page of match 7: marker \"function show_info(URL)\""_s))
        << first.toStdString();
    QStringList layout;
    for (const auto &e : log.entries)
        if (e.kind == FailureKind::Layout)
            layout << e.message;
    EXPECT_TRUE(layout.join(u'\n').contains(u"no history record read"_s)) << layout.join(u'\n').toStdString();

    // A whole page logs no layout failure.
    TwoTeamWorld world;
    addGbPage(web, TwoTeamWorld::pageUrl(Base, 9), analysisPageHtml(world.analysedPage()));
    s.currentMatchId = Value(u"9");
    StepLog good;
    loadAnalysisPage(s, web, bases(), PageRenderer(), &good);
    EXPECT_FALSE(good.has(FailureKind::Layout)) << good.first(FailureKind::Layout).toStdString();
}

// An error status, an empty answer or bytes that are not text: the site sent
// no page of the match, which is a site error and no changed layout, and
// nothing of the answer is read, even when it looks like a whole page.
TEST(LoadAnalysisPage, AnAnswerThatIsNoPageIsASiteErrorAndNothingOfItIsRead) {
    TwoTeamWorld world;
    QStringEncoder gb("GB18030");
    const QByteArray page = gb.encode(analysisPageHtml(world.analysedPage()));
    FakeWeb web;
    web.add(TwoTeamWorld::pageUrl(Base, 1), page, 500, "text/html; charset=gb2312");
    web.add(TwoTeamWorld::pageUrl(Base, 2), QByteArray(), 200, "text/html; charset=gb2312");
    web.add(TwoTeamWorld::pageUrl(Base, 3), page.left(200) + "\xFF\xFF" + page.mid(200), 200, "text/html; charset=gb2312");
    web.add(TwoTeamWorld::pageUrl(Base, 4), page, 200, "text/html; charset=utf-8");
    const char *says[] = {"HTTP 500", "the answer is empty (HTTP 200)", "not GB18030 text", "not UTF-8 text"};
    for (int id = 1; id <= 4; ++id) {
        SCOPED_TRACE(id);
        AnalysisState s;
        s.currentMatchId = Value(double(id));
        StepLog log;
        loadAnalysisPage(s, web, bases(), PageRenderer(), &log);
        EXPECT_EQ(s.analysisData, ValueArray(4));
        ASSERT_TRUE(log.has(FailureKind::SiteError));
        EXPECT_TRUE(log.first(FailureKind::SiteError).startsWith(u"analysis site, analysis page of match %1: "_s.arg(id)));
        EXPECT_TRUE(log.first(FailureKind::SiteError).contains(QLatin1String(says[id - 1])))
            << log.first(FailureKind::SiteError).toStdString();
        EXPECT_FALSE(log.has(FailureKind::Layout)) << log.first(FailureKind::Layout).toStdString();
    }
}

TEST(LoadAnalysisPage, CancelledFetchEndsTheRun) {
    FakeWeb web;
    web.abort();
    AnalysisState s;
    try {
        loadAnalysisPage(s, web, bases(), PageRenderer());
        FAIL() << "a cancelled fetch must not be skipped";
    } catch (const StepFailure &f) {
        EXPECT_EQ(f.kind(), FailureKind::Cancelled);
    }
}
