#include "sites/HandicapDetail.h"

#include "support/FakeWeb.h"

#include <QStringEncoder>

#include <gtest/gtest.h>

using namespace chenglan;
using chenglan::testing::FakeWeb;
using namespace Qt::StringLiterals;

namespace {

QDateTime at(int y, int mo, int d, int h, int mi) { return QDateTime(QDate(y, mo, d), QTime(h, mi), Qt::UTC); }
Value day(int y, int mo, int d) { return Value(at(y, mo, d, 0, 0)); }

QByteArray gb(const QString &text) {
    QStringEncoder encoder("GB18030");
    return encoder.encode(text);
}

// A change-detail page as the site lays it out: a first table that is not
// the change table, then the change table in <span id="odds2">, newest first.
QString detailPage(const QStringList &rows) {
    QString page = u"<html><head><title>盘口变化</title></head><body>"
                   u"<table><tr><td>其他</td><td>1</td><td>0.90</td><td>平手</td><td>0.90</td><td>01-01 10:00</td></tr></table>"
                   u"<SPAN ID=\"odds2\"><TABLE class=\"t\">"
                   u"<TR><TD>比分</TD><TD>状态</TD><TD>主队</TD><TD>盘口</TD><TD>客队</TD><TD>变化时间</TD></TR>"_s;
    for (const QString &row : rows) {
        page += u"<TR>"_s;
        for (const QString &cell : row.split(u'|'))
            page += u"<TD>"_s + cell + u"</TD>"_s;
        page += u"</TR>\n"_s;
    }
    page += u"</TABLE></SPAN><table><tr><td>尾</td><td>即时</td><td>1.5</td><td>x</td><td>1</td><td>12-31 23:00</td></tr></table></body></html>"_s;
    return page;
}

class ScrapeHandicapChangesTest : public ::testing::Test {
protected:
    void SetUp() override {
        bases.detail = u"http://127.0.0.1:9/vip/"_s;
        s.handicapSummary = Table(HandicapItems, HandicapMatches);
        s.currentMatchId = Value(1234567.0);
        s.matchDate = Value(at(2026, 1, 10, 20, 0));
        s.listHandicapLoaded = Value(0.0);
    }
    QString url(const QString &id = u"1234567"_s) const {
        return bases.detail + u"changeDetail/handicap.aspx?id="_s + id + u"&companyID=3"_s;
    }
    const Value &item(int i, int match) const { return s.handicapSummary.at(i, match); }

    AnalysisState s;
    SiteBases bases;
    FakeWeb web;
    PageRenderer renderer;
    StepLog log;
};

} // namespace

TEST(AdjustChangeYear, LateChangeForEarlyMatchBelongsToThePreviousYear) {
    Value change(u"2026-12-28 20:15"_s);
    EXPECT_EQ(AdjustChangeYear(change, day(2026, 1, 10)), at(2025, 12, 28, 20, 15));
    EXPECT_EQ(change, Value(at(2026, 12, 28, 20, 15))); // converted in place, not moved

    Value november(u"2026-11-30 09:00"_s);
    EXPECT_EQ(AdjustChangeYear(november, day(2026, 9, 30)), at(2025, 11, 30, 9, 0));

    Value autumnMatch(u"2026-12-28 20:15"_s);
    EXPECT_EQ(AdjustChangeYear(autumnMatch, day(2026, 10, 5)), at(2026, 12, 28, 20, 15));

    Value sameMonth(u"2026-04-30 09:00"_s);
    EXPECT_EQ(AdjustChangeYear(sameMonth, day(2026, 5, 1)), at(2026, 4, 30, 9, 0));

    Value october(u"2026-10-31 23:59"_s);
    EXPECT_EQ(AdjustChangeYear(october, day(2026, 1, 2)), at(2026, 10, 31, 23, 59));
}

TEST(AdjustChangeYear, UnreadableTimeFails) {
    Value change(u"2026-即时"_s);
    EXPECT_THROW(AdjustChangeYear(change, day(2026, 1, 1)), StepFailure);
    Value good(u"2026-01-01 10:00"_s);
    EXPECT_THROW(AdjustChangeYear(good, Value(u"soon"_s)), StepFailure);
}

TEST(HandicapChangeMarkup, CutsTheChangeTableAndMarksCells) {
    const QString markup = handicapChangeMarkup(
        u"<p>x</p>  <SPAN id=\"odds2\"><table><tr><TD>A</TD><td>B</td></tr></TABLE><table>rest</table>"_s);
    EXPECT_EQ(markup, u"<span id=\"odds2\"><table><tr><td>a,</td><td>b,</td></tr>"_s);
    EXPECT_TRUE(handicapChangeMarkup(u"<table><tr><td>a</td></tr></table>"_s).isEmpty());
}

TEST(HandicapChanges, OldestFirstAndFiltered) {
    const QString text = u"比分,状态,主队,盘口,客队,变化时间,\r\n"
                         u"0-0,即时,0.85,受让半球,1.01,01-10 19:55,\r\n"   // newest
                         u"0-0,即时,0,平手,0.9,01-09 10:00,\r\n"           // home odds 0
                         u"0-0,即时,,平手,0.9,01-09 09:00,\r\n"            // home odds empty
                         u"0-0,早,0.9,平手,0.9,01-08 10:00,\r\n"           // field 1 one character
                         u"0-0,,0.9,平手,0.9,01-08 09:00,\r\n"             // field 1 empty
                         u"0-0,早盘,0.95,平手/半球,0.93,12-28 20:15,\r\n"  // oldest
                         u"\n"_s;
    const QList<HandicapChange> changes = handicapChanges(text, day(2026, 1, 10));
    ASSERT_EQ(changes.size(), 2);
    EXPECT_EQ(changes[0], (HandicapChange{Value(0.95), Value(u"平手/半球"_s), Value(0.93), Value(at(2025, 12, 28, 20, 15))}));
    EXPECT_EQ(changes[1], (HandicapChange{Value(0.85), Value(u"受半球"_s), Value(1.01), Value(at(2026, 1, 10, 19, 55))}));
}

TEST(HandicapChanges, UnreadableTimeLeavesItEmpty) {
    StepLog log;
    const QList<HandicapChange> changes = handicapChanges(u"h\r\n0-0,即时,0.9,平手,0.9,--,\r\n"_s, day(2026, 3, 1), &log);
    ASSERT_EQ(changes.size(), 1);
    EXPECT_TRUE(changes[0].changeTime.isEmpty());
    EXPECT_FALSE(log.empty());
}

TEST_F(ScrapeHandicapChangesTest, EarliestAndLatestChangeOfTheListMatch) {
    web.add(url(), gb(detailPage({u"0-0|即时|0.85|受让半球|1.01|01-10 19:55"_s,
                                  u"0-0|即时|0|平手|0.90|01-09 10:00"_s,
                                  u"0-0|早盘|0.95|平手/半球|0.93|12-28 20:15"_s})));
    EXPECT_EQ(scrapeHandicapChanges(s, web, bases, renderer, &log), 2);
    EXPECT_EQ(web.methods.value(0), HttpRequest::Method::Post);
    EXPECT_EQ(item(0, 0), Value(0.95));
    EXPECT_EQ(item(1, 0), Value(u"平手/半球"_s));
    EXPECT_EQ(item(2, 0), Value(0.93));
    EXPECT_EQ(item(3, 0), Value(at(2025, 12, 28, 20, 15)));
    EXPECT_EQ(item(4, 0), Value(0.85));
    EXPECT_EQ(item(5, 0), Value(u"受半球"_s));
    EXPECT_EQ(item(6, 0), Value(1.01));
    EXPECT_EQ(item(7, 0), Value(at(2026, 1, 10, 19, 55)));
    for (int i = 0; i < HandicapItems; ++i)
        EXPECT_TRUE(item(i, 1).isEmpty()) << i;
}

TEST_F(ScrapeHandicapChangesTest, OneKeptChangeFillsBothHalvesOfTheSimilarMatch) {
    s.listHandicapLoaded = Value(1.0);
    s.handicapSummary.set(0, 0, Value(0.7));
    web.add(url(), gb(detailPage({u"1-0|即时|0.88|半球|0.98|01-10 21:00"_s})));
    EXPECT_EQ(scrapeHandicapChanges(s, web, bases, renderer), 1);
    EXPECT_EQ(item(0, 1), Value(0.88));
    EXPECT_EQ(item(4, 1), Value(0.88));
    EXPECT_EQ(item(7, 1), Value(at(2026, 1, 10, 21, 0)));
    EXPECT_EQ(item(0, 0), Value(0.7));
}

TEST_F(ScrapeHandicapChangesTest, OtherLoadedMarkStoresNothing) {
    s.listHandicapLoaded = Value(2.0);
    web.add(url(), gb(detailPage({u"1-0|即时|0.88|半球|0.98|01-10 21:00"_s})));
    EXPECT_EQ(scrapeHandicapChanges(s, web, bases, renderer), 1);
    EXPECT_EQ(s.handicapSummary, Table(HandicapItems, HandicapMatches));
}

TEST_F(ScrapeHandicapChangesTest, NoUsableChangeEmptiesThePreviousItems) {
    for (int i = 0; i < HandicapItems; ++i)
        s.handicapSummary.set(i, 0, Value(u"old"_s));
    web.add(url(), gb(detailPage({u"0-0|即时|0|平手|0.90|01-09 10:00"_s})));
    EXPECT_EQ(scrapeHandicapChanges(s, web, bases, renderer, &log), 0);
    for (int i = 0; i < HandicapItems; ++i)
        EXPECT_TRUE(item(i, 0).isEmpty()) << i;
    EXPECT_TRUE(log.has(FailureKind::Data));
}

TEST_F(ScrapeHandicapChangesTest, MissingTableOrFailedFetchEmptiesTheItems) {
    s.handicapSummary.set(1, 0, Value(u"old"_s));
    web.add(url(), gb(u"<html><body>系统维护</body></html>"_s), 500);
    EXPECT_EQ(scrapeHandicapChanges(s, web, bases, renderer, &log), 0);
    EXPECT_TRUE(item(1, 0).isEmpty());
    EXPECT_TRUE(log.has(FailureKind::SiteError)) << "an error page is no changed layout";
    EXPECT_FALSE(log.has(FailureKind::Layout));

    s.handicapSummary.set(1, 0, Value(u"old"_s));
    StepLog layout;
    web.add(url(), gb(u"<html><body><table><tr><td>无</td></tr></table></body></html>"_s));
    EXPECT_EQ(scrapeHandicapChanges(s, web, bases, renderer, &layout), 0);
    EXPECT_TRUE(item(1, 0).isEmpty());
    EXPECT_TRUE(layout.first(FailureKind::Layout).endsWith(u": marker \"<span id=\"odds2\"\" missing"_s))
        << layout.first(FailureKind::Layout).toStdString();

    s.handicapSummary.set(1, 0, Value(u"old"_s));
    StepLog failed;
    web.fail(url(), u"timed out"_s);
    EXPECT_EQ(scrapeHandicapChanges(s, web, bases, renderer, &failed), 0);
    EXPECT_TRUE(item(1, 0).isEmpty());
    EXPECT_TRUE(failed.has(FailureKind::Network));
}

TEST_F(ScrapeHandicapChangesTest, StrengthTrendCommandFillsTheListMatch) {
    s.listMatchId = Value(u"777"_s);
    s.listMatchTime = Value(at(2026, 5, 1, 15, 0));
    s.listHandicapLoaded = Value(1.0); // a similar match was opened since the list click
    s.handicapSummary.set(0, 1, Value(0.5));
    web.add(url(u"777"_s), gb(detailPage({u"0-0|即时|0.91|一球|0.99|04-30 09:00"_s})));
    const HandicapRun run = listMatchHandicapDetail(s, web, bases, renderer);
    EXPECT_EQ(run.changes, 1);
    EXPECT_TRUE(run.pageRead);
    EXPECT_TRUE(run.status.contains(u"777")) << run.status.toStdString();
    EXPECT_EQ(s.currentMatchId, Value(u"777"_s));
    EXPECT_EQ(s.matchDate, Value(at(2026, 5, 1, 15, 0)));
    EXPECT_EQ(item(3, 0), Value(at(2026, 4, 30, 9, 0)));
    EXPECT_EQ(item(0, 1), Value(0.5));

    s.listMatchId = Value(u"778"_s); // a page the site does not answer
    const HandicapRun failed = listMatchHandicapDetail(s, web, bases, renderer);
    EXPECT_FALSE(failed.pageRead);
    EXPECT_TRUE(failed.status.contains(u"读取失败")) << failed.status.toStdString();
    EXPECT_TRUE(item(3, 0).isEmpty());
}

TEST(HandicapDetailUrl, MatchIdIsEncoded) {
    EXPECT_EQ(handicapDetailUrl(u"http://h/"_s, Value(2301234.0)), u"http://h/changeDetail/handicap.aspx?id=2301234&companyID=3"_s);
    EXPECT_EQ(handicapDetailUrl(u"http://h/"_s, Value(u"1&companyID=9"_s)),
              u"http://h/changeDetail/handicap.aspx?id=1%26companyID%3D9&companyID=3"_s);
}
