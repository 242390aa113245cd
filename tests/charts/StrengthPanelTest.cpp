#include "ChartSamples.h"

#include "charts/ChartPictures.h"
#include "charts/StrengthPanel.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace chenglan;
using namespace chenglan::testing;
using namespace Qt::Literals::StringLiterals;

namespace {

QString verdict(double home, double away) { return StrengthVerdict(summary({home, away})); }

// The text drawn with its top-left corner at (x, y), or a null string.
QString textAt(const Canvas &canvas, double x, double y) {
    for (const DrawnText &t : canvas.texts())
        if (t.position == QPointF(x, y))
            return t.text;
    return {};
}

} // namespace

TEST(StrengthVerdict, LevelBoundsAreExclusiveBelowAndInclusiveAbove) {
    const struct {
        double home, away;
        const char16_t *expected;
    } cases[] = {
        {0, 0, u"两队对应实力差Ⅰ:0 客队实力与主队相当,对应0-0 0-1"},
        {0.1, 0, u"两队对应实力差Ⅰ:0.1 主队实力与客队相当,对应1-1 1-0"},
        {0.25, 0, u"两队对应实力差Ⅰ:0.25 主队实力略高于客队,对应2-1 1-1"},
        {0.3, 0, u"两队对应实力差Ⅰ:0.3 主队实力高于客队,对应1-0 2-1"},
        {0.75, 0, u"两队对应实力差Ⅰ:0.75 主队实力明显高于客队,对应2-0 1-0"},
        {1, 0, u"两队对应实力差Ⅰ:1 主队实力远高于客队,对应3-1 2-0"},
        {1.25, 0, u"两队对应实力差Ⅰ:1.25 主队实力超高于客队,对应3-0 3-1"},
        {1.26, 0, u"两队对应实力差Ⅰ:1.26 主队实力超强于客队,对应4-1 3-0"},
        {0, 0.1, u"两队对应实力差Ⅰ:-0.1 客队实力略高于主队,对应0-1 0-0"},
        {0, 0.25, u"两队对应实力差Ⅰ:-0.25 客队实力高于主队,对应1-2 0-1"},
        {0, 0.5, u"两队对应实力差Ⅰ:-0.5 客队实力明显高于主队,对应0-2 1-2"},
        {0, 0.75, u"两队对应实力差Ⅰ:-0.75 客队实力远高于主队,对应1-3 0-2"},
        {0, 1, u"两队对应实力差Ⅰ:-1 客队实力超高于主队,对应0-3 1-3"},
        {0, 1.25, u"两队对应实力差Ⅰ:-1.25 客队实力超强于主队,对应1-4 0-3"},
        {0, 3, u"两队对应实力差Ⅰ:-3 客队实力超强于主队,对应1-4 0-3"},
        // 0.35 - 0.25 is just below 0.1 in double precision: level 7, shown rounded.
        {0.35, 0.25, u"两队对应实力差Ⅰ:0.1 主队实力与客队相当,对应1-1 1-0"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(verdict(c.home, c.away), QString::fromUtf16(c.expected)) << c.home << " - " << c.away;
}

TEST(StrengthLevel, NumbersTheLevelsAndNamesTheScoresTheirTextsSuggest) {
    // One difference inside each level, level 1 first.
    const double inside[] = {2, 1.1, 0.8, 0.6, 0.3, 0.2, 0.05, 0, -0.2, -0.3, -0.6, -0.8, -1.1, -2};
    for (int n = 1; n <= StrengthLevelCount; ++n) {
        const StrengthLevel level = strengthLevel(inside[n - 1]);
        EXPECT_EQ(level.number, n);
        EXPECT_TRUE(verdict(inside[n - 1], 0).endsWith(level.text)) << n;
        const QString scores = u"对应%1-%2 %3-%4"_s.arg(level.scores[0].first)
                                   .arg(level.scores[0].second)
                                   .arg(level.scores[1].first)
                                   .arg(level.scores[1].second);
        EXPECT_TRUE(level.text.endsWith(scores)) << level.text.toStdString();
    }
    EXPECT_EQ(strengthLevel(0.35 - 0.25).number, 7);
    EXPECT_EQ(strengthLevel(0.1).number, 7);
    EXPECT_EQ(strengthLevel(-1.25).number, 14);
    EXPECT_EQ(strengthLevel(std::nan("")).number, 0);
}

TEST(StrengthVerdict, EmptyStrengthsCountAsZeroAndMissingOnesFail) {
    EXPECT_EQ(StrengthVerdict(ValueArray(8)), QStringLiteral("两队对应实力差Ⅰ:0 客队实力与主队相当,对应0-0 0-1"));
    EXPECT_THROW(StrengthVerdict(ValueArray()), StepFailure);
    EXPECT_THROW(StrengthVerdict(ValueArray(1)), StepFailure);
    ValueArray text(2);
    text.set(0, Value(u"abc"));
    EXPECT_THROW(StrengthVerdict(text), StepFailure);
}

TEST(ResultCodeToText, MarksTheCodeAndLeavesItsNumberInTheCell) {
    const struct {
        Value code;
        const char16_t *mark;
        double number;
    } cases[] = {{Value(u"1"), u"胜", 1},  {Value(u"-1"), u"负", -1}, {Value(u"0"), u"平", 0},
                 {Value(), u"平", 0},      {Value(u"2"), u"胜", 2},   {Value(u"x"), u"平", 0},
                 {Value(-1.0), u"负", -1}, {Value::fromInt16(1), u"胜", 1}};
    for (const auto &c : cases) {
        Value cell = c.code;
        EXPECT_EQ(ResultCodeToText(cell), QString::fromUtf16(c.mark)) << describe(c.code).toStdString();
        EXPECT_EQ(cell, Value(c.number));
        EXPECT_EQ(ResultCodeToText(cell), QString::fromUtf16(c.mark)) << "second time";
    }
}

TEST(HeadToHead, CountsRowsWhereTheOpponentPlayedOnEitherSide) {
    AnalysisState s;
    s.awayTeamId = Value(u"35");
    s.homeHistory = historyTable({
        {Value(u"1"), QStringLiteral("35"), QStringLiteral("10")},  // win, opponent at home
        {Value(1.0), QStringLiteral("10"), QStringLiteral("35")},   // win, opponent away
        {Value(), QStringLiteral("10"), QStringLiteral("35")},      // empty result: a draw
        {Value(u"-1"), QStringLiteral("35"), QStringLiteral("10")}, // loss
        {Value(u"2"), QStringLiteral("35"), QStringLiteral("10")},  // other code: not counted
        {Value(u"1"), QStringLiteral("10"), QStringLiteral("36")},  // another opponent
        {Value(u"-1")},
    });
    EXPECT_EQ(countHeadToHead(s), (HeadToHead{2, 1, 1}));

    s.homeHistory = Table();
    StepLog log;
    EXPECT_EQ(countHeadToHead(s, &log), HeadToHead{});
    EXPECT_FALSE(log.empty());
}

TEST(DrawStrengthPanel, DrawsEveryLineAtItsPlace) {
    AnalysisState s = listMatch();
    Canvas pic(PicSrWidth, PicSrHeight);
    drawStrengthPanel(s, pic);
    keepPicture(pic, QStringLiteral("strength-panel"));

    EXPECT_EQ(pic.textStrings(),
              (QStringList{QStringLiteral("英格兰超 2022-10-09 15:30 曼联足球俱2-1 利物浦足球"),
                           QStringLiteral("主队:胜平负胜胜平  实力Ⅰ:1.20 实力Ⅱ:0.95 A31"),
                           QStringLiteral("客队:负平胜胜负负  实力Ⅰ:0.90 实力Ⅱ:0.5 D10"),
                           QStringLiteral("两队近年共对阵:3场 主队:1胜 0平 2负"),
                           QStringLiteral("两队对应实力差Ⅰ:0.3 主队实力高于客队,对应1-0 2-1")}));
    const double ys[] = {50, 400, 750, 1100, 1450};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(pic.texts()[i].position, QPointF(150, ys[i]));
    EXPECT_EQ(pic.texts()[0].fontSize, 14);
    EXPECT_EQ(pic.texts()[1].fontSize, 13);

    // The two rules run across the whole box, black on white.
    const QImage &img = pic.image();
    for (double y : {350.0, 1750.0}) {
        const QPoint p = pic.toPixel(0, y);
        EXPECT_EQ(countColour(img, QRect(2, p.y(), img.width() - 4, 1), colour::Black), img.width() - 4) << y;
    }
    EXPECT_EQ(img.pixel(img.width() / 2, pic.toPixel(0, 1650).y()) & 0xFFFFFF, 0xFFFFFFu);

    // The shown result cells hold numbers now; a second drawing is the same.
    EXPECT_EQ(s.homeHistory.at(12, 0), Value(1.0));
    EXPECT_EQ(s.homeHistory.at(12, 6), Value(u"-1"));
    const QImage first = img;
    const QList<DrawnText> texts = pic.texts();
    drawStrengthPanel(s, pic);
    EXPECT_EQ(pic.texts(), texts);
    EXPECT_EQ(pic.image(), first);
}

TEST(DrawStrengthPanel, FewResultsAndAMissingSummaryShortenTheLines) {
    AnalysisState s = listMatch();
    s.homeHistory = historyTable({{Value(u"1")}, {Value(u"-1")}, {Value(u"0"), QStringLiteral("35")}});
    s.profile.strengths = ValueArray();
    Canvas pic(PicSrWidth, PicSrHeight);
    drawStrengthPanel(s, pic);
    EXPECT_EQ(textAt(pic, 150, 400), QStringLiteral("主队:胜负平"));
    EXPECT_EQ(textAt(pic, 150, 750), QStringLiteral("客队:负平胜胜负负"));
    EXPECT_EQ(textAt(pic, 150, 1100), QStringLiteral("两队近年共对阵:1场 主队:0胜 1平 0负"));
    EXPECT_TRUE(textAt(pic, 150, 1450).isNull()) << "no verdict without a summary";

    // An emptied summary (a failed strength model): blank strengths, verdict on 0.
    s.profile.strengths = ValueArray(8);
    s.homeHistory = Table();
    drawStrengthPanel(s, pic);
    EXPECT_EQ(textAt(pic, 150, 400), QStringLiteral("主队:  实力Ⅰ: 实力Ⅱ: A31"));
    EXPECT_EQ(textAt(pic, 150, 1100), QStringLiteral("两队近年没有对阵"));
    EXPECT_EQ(textAt(pic, 150, 1450), QStringLiteral("两队对应实力差Ⅰ:0 客队实力与主队相当,对应0-0 0-1"));
}

TEST(DrawStrengthPanel, LongestLinesStayInsideThePanel) {
    AnalysisState s = listMatch();
    s.profile.strengths = summary({-1.75, 1.25, -1.1, 1.1, -1.25, 1.25, -1, 1});
    s.profile.code20 = Value(u"D33");
    Canvas pic(PicSrWidth, PicSrHeight);
    drawStrengthPanel(s, pic);
    keepPicture(pic, QStringLiteral("strength-panel-long"));
    ASSERT_EQ(pic.texts().size(), 5);
    for (const DrawnText &t : pic.texts())
        EXPECT_LE(t.pixel.x() + t.pixelSize.width(), pic.image().width() - 2) << t.text.toStdString();
}

TEST(DrawStrengthPanel, ACaptionTooWideForThePanelIsDrawnSmallerNotCut) {
    AnalysisState s = listMatch();
    s.listMatchCaption = Value(u"德国甲级 2026-12-08 19:30 施瓦岑巴赫竞技vs 瓦尔德海姆");
    Canvas pic(PicSrWidth, PicSrHeight);
    drawStrengthPanel(s, pic);
    keepPicture(pic, QStringLiteral("strength-panel-long-caption"));
    ASSERT_EQ(pic.texts().size(), 5);
    const DrawnText &caption = pic.texts()[0];
    EXPECT_EQ(caption.text, s.listMatchCaption.text());
    EXPECT_EQ(caption.position, QPointF(150, 50));
    EXPECT_LT(caption.fontSize, 14);
    EXPECT_GE(caption.fontSize, 9);
    EXPECT_LE(caption.pixel.x() + caption.pixelSize.width(), pic.image().width() - 2);
    EXPECT_EQ(pic.texts()[1].fontSize, 13) << "the next line keeps its own size";

    s.similarMatchCaption = Value(u"德国甲级 2026-12-01 19:30 施瓦岑巴赫2-1 瓦尔德海姆");
    s.handicapSummary.set(0, 0, Value(0.85));
    s.handicapSummary.set(1, 0, Value(u"受让半球/一球"));
    s.handicapSummary.set(2, 0, Value(1.05));
    s.handicapSummary.set(4, 0, Value(0.95));
    s.handicapSummary.set(5, 0, Value(u"受让球半/两球"));
    s.handicapSummary.set(6, 0, Value(0.93));
    drawHandicapComparison(s, pic);
    for (const DrawnText &t : pic.texts())
        EXPECT_LE(t.pixel.x() + t.pixelSize.width(), pic.image().width() - 2) << t.text.toStdString();
}

TEST(DrawHandicapComparison, ReplacesOnlyTheBlockBelowTheStrengthPanel) {
    AnalysisState s = listMatch();
    ChartPictures pics = ChartPictures::make();
    Canvas &pic = pics.strengthPanel;
    drawStrengthPanel(s, pic);
    const int blockTop = pic.toPixel(0, 1800).y();
    const QImage panel = pic.image().copy(0, 0, pic.image().width(), blockTop);
    const QStringList panelTexts = pic.textStrings();

    s.similarMatchCaption = Value(u"意甲 2021-03-05 20:00 尤文图斯1-1 国际米兰");
    s.handicapSummary.set(0, 0, Value(0.85));
    s.handicapSummary.set(1, 0, Value(u"半球"));
    s.handicapSummary.set(2, 0, Value(1.05));
    s.handicapSummary.set(4, 0, Value(0.9));
    s.handicapSummary.set(5, 0, Value(u"半球/一球"));
    s.handicapSummary.set(6, 0, Value(1.0));
    s.handicapSummary.set(0, 1, Value(0.925));
    s.handicapSummary.set(1, 1, Value(u"平手"));
    drawHandicapComparison(s, pic);
    keepPicture(pic, QStringLiteral("handicap-panel"));
    EXPECT_EQ(pic.textStrings().mid(0, 5), panelTexts);
    EXPECT_EQ(pic.textStrings().mid(5),
              (QStringList{QStringLiteral("意甲 2021-03-05 20:00 尤文图斯1-1 国际米兰"),
                           QStringLiteral("主队:胜平负胜胜平 客队:负平胜胜负负 对阵:1胜 0平 2负"),
                           QStringLiteral("本场:初盘 0.85半球1.05 即时 0.90半球/一球1.00"),
                           QStringLiteral("历史:初盘 0.92平手 终盘 ")}));
    EXPECT_EQ(pic.texts()[5].colour, colour::Blue);
    EXPECT_EQ(pic.texts()[7].colour, colour::Black);
    EXPECT_EQ(pic.texts()[8].colour, colour::Blue);

    // A second similar match: the block is replaced whole, the panel above kept.
    s.similarMatchCaption = Value(u"西甲 2020-01-01 皇马0-0 巴萨");
    s.homeHistory = historyTable({{Value(u"1")}, {Value(u"1")}});
    s.awayHistory = Table();
    drawHandicapComparison(s, pic);
    EXPECT_EQ(pic.textStrings().mid(5),
              (QStringList{QStringLiteral("西甲 2020-01-01 皇马0-0 巴萨"), QStringLiteral("主队:胜胜 客队: 无对阵"),
                           QStringLiteral("本场:初盘 0.85半球1.05 即时 0.90半球/一球1.00"),
                           QStringLiteral("历史:初盘 0.92平手 终盘 ")}));
    EXPECT_EQ(pic.image().copy(0, 0, pic.image().width(), blockTop), panel);
    EXPECT_EQ(pic.textStrings().mid(0, 5), panelTexts);

    // A new list match clears the block with the whole box.
    drawStrengthPanel(s, pic);
    EXPECT_EQ(pic.texts().size(), 5);
    EXPECT_EQ(countColour(pic.image(), QRect(0, blockTop, pic.image().width(), 60), colour::Blue), 0);
}

TEST(DrawHandicapComparison, ShowsTheHeadToHeadCountsWithoutTotal) {
    AnalysisState s = listMatch();
    s.homeHistory = historyTable({{Value(u"1"), QStringLiteral("35")}, {Value(u"1"), QStringLiteral("35")}});
    s.awayHistory = historyTable({{Value(u"0")}});
    Canvas pic(PicSrWidth, PicSrHeight);
    drawHandicapComparison(s, pic);
    EXPECT_EQ(textAt(pic, 150, 2150), QStringLiteral("主队:胜胜 客队:平 对阵:2胜 0平 0负"));
}
