#include "CsvImport.h"
#include "ServiceTestData.h"
#include "ServiceLimits.h"

#include <QBuffer>

#include <gtest/gtest.h>

using namespace chenglan::dataservice;
using namespace chenglan::dataservice::testing;

namespace {

const char kDocumentedLine[] = "1001,英超,#FF0000,曼城,利物浦,2024-03-01 20:00,1,0,2,1,半球,0.95,0.91";

QStringList fieldsOf(const char *line) { return *splitCsvLine(QString::fromUtf8(line)); }

struct Imported {
    ImportReport report;
    QStringList messages;
};

Imported runImport(MatchStore &store, const QByteArray &csv) {
    QBuffer buffer;
    buffer.setData(csv);
    buffer.open(QIODevice::ReadOnly);
    Imported out;
    out.report = importCsv(buffer, store, [&](const QString &line) { out.messages << line; });
    return out;
}

} // namespace

TEST(SplitCsvLine, HandlesQuotedFields) {
    EXPECT_EQ(*splitCsvLine(u"a,b,,c"), (QStringList{"a", "b", "", "c"}));
    EXPECT_EQ(*splitCsvLine(u"\"a,b\",\"say \"\"hi\"\"\",\"\""), (QStringList{"a,b", "say \"hi\"", ""}));
    EXPECT_EQ(*splitCsvLine(u"a,"), (QStringList{"a", ""}));
    EXPECT_FALSE(splitCsvLine(u"\"open,b"));
    EXPECT_FALSE(splitCsvLine(u"\"a\"b,c"));
    EXPECT_FALSE(splitCsvLine(u"a\"b,c"));
}

TEST(MatchFromCsv, ReadsTheDocumentedColumns) {
    const CsvMatch m = matchFromCsv(fieldsOf(kDocumentedLine));
    ASSERT_TRUE(m.facts) << m.error.toStdString();
    const MatchFacts &f = *m.facts;
    EXPECT_EQ(f.matchId, 1001);
    EXPECT_EQ(f.league, QStringLiteral("英超"));
    EXPECT_EQ(f.leagueColour, QStringLiteral("#ff0000"));
    EXPECT_EQ(f.homeTeam, QStringLiteral("曼城"));
    EXPECT_EQ(f.awayTeam, QStringLiteral("利物浦"));
    EXPECT_EQ(f.kickoff, QStringLiteral("2024-03-01 20:00"));
    EXPECT_EQ(f.halfTimeHome, 1);
    EXPECT_EQ(f.fullTimeAway, 1);
    EXPECT_EQ(f.handicap, QStringLiteral("半球"));
    EXPECT_EQ(f.homeOdds, 0.95);
    EXPECT_TRUE(f.finished());
    EXPECT_TRUE(f.leagueShort.isEmpty());
    EXPECT_FALSE(f.handicapLine);
}

TEST(MatchFromCsv, RefusesBadLinesWithAReason) {
    const struct {
        const char *line;
        const char *reason;
    } cases[] = {
        {"1001,英超,#ff0000,曼城,利物浦,2024-03-01 20:00,1,0,2,1,半球,0.95", "12 columns, expected 13"},
        {"x1,英超,#ff0000,曼城,利物浦,2024-03-01 20:00,1,0,2,1,半球,0.95,0.91", "match_id is not a number"},
        {"0,英超,#ff0000,曼城,利物浦,2024-03-01 20:00,1,0,2,1,半球,0.95,0.91", "match_id is not a number"},
        {"1,英超,red,曼城,利物浦,2024-03-01 20:00,1,0,2,1,半球,0.95,0.91",
         "league_colour is not \"#\" and six hexadecimal digits"},
        {"1,英超,#ff0000,曼城,利物浦,2024-02-30 20:00,1,0,2,1,半球,0.95,0.91", "kickoff is not \"YYYY-MM-DD HH:MM\""},
        {"1,英超,#ff0000,曼城,利物浦,2024-03-01,1,0,2,1,半球,0.95,0.91", "kickoff is not \"YYYY-MM-DD HH:MM\""},
        {"1,英超,#ff0000,曼城,利物浦,2024-03-01 20:00,1,0,two,1,半球,0.95,0.91", "ft_home is not a goal count"},
        {"1,英超,#ff0000,曼城,利物浦,2024-03-01 20:00,1,0,-2,1,半球,0.95,0.91", "ft_home is not a goal count"},
        {"1,英超,#ff0000,曼城,利物浦,2024-03-01 20:00,1,0,2,,半球,0.95,0.91", "only one full-time goal count"},
        {"1,英超,#ff0000,曼城,利物浦,2024-03-01 20:00,3,0,2,1,半球,0.95,0.91", "more goals at half-time than at full-time"},
        {"1,英超,#ff0000,曼城,利物浦,2024-03-01 20:00,1,0,2,1,半球,abc,0.91", "home_odds is not a number"},
        {"1,英超,#ff0000,曼城,利物浦,2024-03-01 20:00,1,0,2,1,半球,-1,0.91", "home_odds is not a number"},
        {"1,,#ff0000,曼城,利物浦,2024-03-01 20:00,1,0,2,1,半球,0.95,0.91", "league is empty"},
        {"1,英超,#ff0000,曼|城,利物浦,2024-03-01 20:00,1,0,2,1,半球,0.95,0.91",
         "home_team holds \",\", \"|\" or a control character"},
        {"1,英超,#ff0000,\"曼,城\",利物浦,2024-03-01 20:00,1,0,2,1,半球,0.95,0.91",
         "home_team holds \",\", \"|\" or a control character"},
    };
    for (const auto &c : cases) {
        const CsvMatch m = matchFromCsv(fieldsOf(c.line));
        EXPECT_FALSE(m.facts) << c.line;
        EXPECT_EQ(m.error, QString::fromUtf8(c.reason)) << c.line;
    }
}

TEST(MatchFromCsv, AMatchWithoutScoreIsNotFinished) {
    const CsvMatch m = matchFromCsv(fieldsOf("1,英超,#ff0000,曼城,利物浦,2024-03-01 20:00,,,,,,,"));
    ASSERT_TRUE(m.facts) << m.error.toStdString();
    EXPECT_FALSE(m.facts->finished());
}

TEST(CsvLayout, FindsColumnsByHeaderNameAndIgnoresOthers) {
    QString error;
    const auto layout = CsvLayout::fromHeader(
        fieldsOf("match_id,league_id,league,league_short,league_colour,home_team_id,home_team,away_team_id,"
                 "away_team,kickoff,ht_home,ht_away,ft_home,ft_away,handicap_line,handicap,home_odds,away_odds"),
        &error);
    ASSERT_TRUE(layout) << error.toStdString();
    const CsvMatch m = matchFromCsv(
        fieldsOf("77,3,英格兰超级联赛,英超,#aa0000,11,曼城,12,利物浦,2024-03-01 20:00,0,0,1,0,-0.75,受让半球/一球,1.02,0.86"),
        *layout);
    ASSERT_TRUE(m.facts) << m.error.toStdString();
    EXPECT_EQ(m.facts->league, QStringLiteral("英格兰超级联赛"));
    EXPECT_EQ(m.facts->leagueShort, QStringLiteral("英超"));
    EXPECT_EQ(m.facts->homeTeam, QStringLiteral("曼城"));
    EXPECT_EQ(m.facts->handicap, QStringLiteral("受让半球/一球"));
    EXPECT_EQ(m.facts->handicapLine, -0.75);
    EXPECT_EQ(m.facts->awayOdds, 0.86);

    EXPECT_FALSE(CsvLayout::fromHeader(fieldsOf("match_id,league,home_team"), &error));
    EXPECT_TRUE(error.startsWith(QStringLiteral("the header lacks league_colour, away_team")));
    EXPECT_FALSE(CsvLayout::fromHeader(
        fieldsOf("match_id,match_id,league,league_colour,home_team,away_team,kickoff,ht_home,ht_away,ft_home,"
                 "ft_away,handicap,home_odds,away_odds"),
        &error));
}

TEST(ImportCsv, StoresGoodLinesAndReportsBadOnesByNumber) {
    TempDatabase db;
    MatchStore store(db.path());
    QByteArray csv = "\xEF\xBB\xBF" "match_id,league,league_colour,home_team,away_team,kickoff,ht_home,ht_away,"
                     "ft_home,ft_away,handicap,home_odds,away_odds\r\n";
    csv += QByteArray(kDocumentedLine) + "\r\n";
    csv += "\r\n";
    csv += "1002,西甲,#00ff00,皇马,巴萨,2024-03-02 21:00,0,0,1,1,平手,0.88,1.00\r\n";
    csv += "1003,德甲,#0000ff,拜仁,\"多特\r\n";
    csv += "1004,德甲,#0000ff,拜仁,多特,2024-03-03 19:30,,,,,一球,,\r\n";
    csv += "1005,德甲,#0000ff,\xff\xfe,多特,2024-03-03 19:30,,,,,一球,,\r\n";
    csv += "1006,意甲,#123456,国米,米兰,2024-03-04 02:45,2,1,3,1,球半,1.02,0.84";

    const Imported first = runImport(store, csv);
    EXPECT_TRUE(first.report.fatal.isEmpty());
    EXPECT_EQ(first.report.lines, 6);
    EXPECT_EQ(first.report.inserted, 4);
    EXPECT_EQ(first.report.unfinished, 1);
    EXPECT_EQ(first.report.bad, 2);
    EXPECT_TRUE(first.messages.contains(QStringLiteral("import: line 5: broken quoting, skipped")))
        << first.messages.join(u'\n').toStdString();
    EXPECT_TRUE(first.messages.contains(QStringLiteral("import: line 7: not UTF-8, skipped")));
    EXPECT_EQ(store.matchCount(), 4);

    // A second run changes nothing; a corrected line updates its match.
    const Imported again = runImport(store, csv);
    EXPECT_EQ(again.report.inserted, 0);
    EXPECT_EQ(again.report.unchanged, 4);
    EXPECT_EQ(store.matchCount(), 4);

    csv.replace("1004,德甲,#0000ff,拜仁,多特,2024-03-03 19:30,,,,", "1004,德甲,#0000ff,拜仁,多特,2024-03-03 19:30,0,1,2,2");
    const Imported corrected = runImport(store, csv);
    EXPECT_EQ(corrected.report.updated, 1);
    EXPECT_EQ(corrected.report.unchanged, 3);
    EXPECT_EQ(store.match(1004)->fullTimeAway, 2);
}

TEST(ImportCsv, AHeaderWithoutTheNeededColumnsStopsTheImport) {
    TempDatabase db;
    MatchStore store(db.path());
    const Imported out = runImport(store, QByteArray("id,name\n") + kDocumentedLine + "\n");
    EXPECT_FALSE(out.report.fatal.isEmpty());
    EXPECT_EQ(store.matchCount(), 0);
}

TEST(ImportCsv, AnOverlongLineIsSkipped) {
    TempDatabase db;
    MatchStore store(db.path());
    QByteArray csv = QByteArray(kDocumentedLine) + "\n";
    csv += "1002," + QByteArray(40000, 'x') + "\n";
    csv += "1003,西甲,#00ff00,皇马,巴萨,2024-03-02 21:00,0,0,1,1,平手,0.88,1.00\n";
    const Imported out = runImport(store, csv);
    EXPECT_EQ(out.report.bad, 1);
    EXPECT_EQ(out.report.inserted, 2);
}

// Text that looks right on screen but is not: digits of another script in the
// colour, and names holding characters that are invisible or turn the text
// around them (a name written backwards reads as another team).
TEST(MatchFromCsv, RefusesLookAlikeDigitsAndHiddenCharacters) {
    const CsvMatch fullWidth = matchFromCsv(fieldsOf("1,英超,#１１２２３３,曼城,利物浦,2024-03-01 20:00,1,0,2,1,半球,0.95,0.91"));
    EXPECT_FALSE(fullWidth.facts);
    EXPECT_EQ(fullWidth.error, QStringLiteral("league_colour is not \"#\" and six hexadecimal digits"));

    const char32_t hidden[] = {0x01,   0x7f,   0x85,   0x9b,   0x061c, 0x200e, 0x200f, 0x202a, 0x202e,
                               0x2066, 0x2069, 0x2028, 0x2029, 0xfeff, 0xfdd0, 0xfdef, 0xfffe, 0xffff,
                               0x1fffe, 0x10ffff};
    for (const char32_t c : hidden) {
        QString name = QStringLiteral("曼"); // QString::fromUcs4 would drop a leading U+FEFF
        name.append(QStringView(QChar::fromUcs4(c)));
        name += QStringLiteral("城");
        for (int column : {1, 3, 4}) {
            QStringList fields = fieldsOf(kDocumentedLine);
            fields[column] = name;
            const CsvMatch m = matchFromCsv(fields);
            EXPECT_FALSE(m.facts) << "U+" << std::hex << unsigned(c) << " in column " << column;
        }
    }
    // What real names hold stays accepted.
    QStringList fields = fieldsOf(kDocumentedLine);
    fields[3] = QStringLiteral("圣保利·汉堡 FC（女）");
    fields[4] = QStringLiteral("Atlético Mineiro");
    const CsvMatch ordinary = matchFromCsv(fields);
    EXPECT_TRUE(ordinary.facts) << ordinary.error.toStdString();
}

// The line bound counts the line without its CR LF or LF.
TEST(ImportCsv, ALineOfExactlyTheBoundIsReadWhateverItsEnding) {
    TempDatabase db;
    MatchStore store(db.path());
    const auto padded = [](const char *line, qsizetype bytes) {
        QByteArray text(line);
        return text + QByteArray(bytes - text.size(), ' '); // trailing blanks of the last field are trimmed
    };
    constexpr qsizetype kBound = qsizetype(limits::kMaxCsvLineBytes);
    QByteArray csv = padded("2001,英超,#ff0000,曼城,利物浦,2024-03-01 20:00,1,0,2,1,半球,0.95,0.91", kBound) + "\r\n";
    csv += padded("2002,英超,#ff0000,曼城,利物浦,2024-03-02 20:00,1,0,2,1,半球,0.95,0.91", kBound) + "\n";
    csv += padded("2003,英超,#ff0000,曼城,利物浦,2024-03-03 20:00,1,0,2,1,半球,0.95,0.91", kBound + 1) + "\r\n";
    csv += padded("2004,英超,#ff0000,曼城,利物浦,2024-03-04 20:00,1,0,2,1,半球,0.95,0.91", kBound + 1) + "\n";
    csv += padded("2005,英超,#ff0000,曼城,利物浦,2024-03-05 20:00,1,0,2,1,半球,0.95,0.91", kBound);
    const Imported out = runImport(store, csv);
    EXPECT_EQ(out.report.lines, 5);
    EXPECT_EQ(out.report.inserted, 3) << out.messages.join(u'\n').toStdString();
    EXPECT_EQ(out.report.bad, 2);
    EXPECT_TRUE(store.match(2001) && store.match(2002) && store.match(2005));
    EXPECT_TRUE(out.messages.contains(QStringLiteral("import: line 3: longer than 16384 bytes, skipped")));
}
