#include "charts/StrengthPanel.h"

#include "base/TextRules.h"

#include <array>
#include <cmath>
#include <limits>

namespace chenglan {

namespace {

// Rows of a history whose results the panels show as marks.
constexpr int ShownResults = 6;

// Where the handicap block starts; the strength panel keeps the rest.
constexpr double HandicapBlockTop = 1800;

// The "0.00" form of a cell. An empty cell shows nothing rather than a
// made-up 0.00, and a text that is no number is shown as it is.
QString fixed2Cell(const Value &v) {
    if (v.isEmpty())
        return {};
    if (v.isText()) {
        const auto n = text::strictNumber(v.text());
        return n ? text::fixed2(*n) : v.text();
    }
    return text::fixed2(v.number());
}

// The marks of rows 0..5 of a history, converting each cell to its number.
// A missing row or table contributes no mark.
QString resultMarks(Table &history, StepLog *log) {
    QString marks;
    for (int row = 0; row < ShownResults; ++row) {
        attempt([&] {
            Value code = history.at(history::ResultColumn, row);
            const QString mark = ResultCodeToText(code);
            history.set(history::ResultColumn, row, std::move(code));
            marks += mark;
        }, log);
    }
    return marks;
}

// Smallest size a line is shrunk to, in points.
constexpr double SmallestFittedSize = 9;

// Draws a line at (x, y). A line wider than the panel would be cut at its
// right edge (a long caption, a long handicap line), so it is drawn a pixel
// size smaller at a time until it fits, down to SmallestFittedSize; the
// lines after it keep the size set for them.
void printAt(Canvas &canvas, double x, double y, const QString &text) {
    const double size = canvas.fontSize();
    const double room = canvas.scaleLeft() + canvas.scaleWidth() - x;
    const double pixel = 72 / canvas.dpi();
    double fitted = size;
    while (fitted - pixel >= SmallestFittedSize && canvas.textWidth(text) > room) {
        fitted -= pixel;
        canvas.setFontSize(fitted);
    }
    canvas.moveTo(x, y);
    canvas.print(text);
    canvas.setFontSize(size);
}

// "本场:初盘 0.851.000.95 即时 0.90一球0.90": opening and latest handicap of one match.
QString handicapLine(const Table &summary, int match, const QString &prefix, const QString &latest) {
    using namespace handicap;
    const auto item = [&](int i) -> const Value & { return summary.at(i, match); };
    return prefix + fixed2Cell(item(EarliestItems + HomeOddsItem)) + item(EarliestItems + HandicapItem).text() +
           fixed2Cell(item(EarliestItems + AwayOddsItem)) + latest + fixed2Cell(item(LatestItems + HomeOddsItem)) +
           item(LatestItems + HandicapItem).text() + fixed2Cell(item(LatestItems + AwayOddsItem));
}

struct VerdictLevel {
    double above; // exclusive lower bound
    const char16_t *text;
    int scores[2][2]; // the two suggested scores the text names, home goals first
};

// The home-side levels (d > 0), strongest first; each is named by its
// exclusive lower bound.
constexpr std::array<VerdictLevel, 7> HomeLevels{{
    {1.25, u" 主队实力超强于客队,对应4-1 3-0", {{4, 1}, {3, 0}}},
    {1.0, u" 主队实力超高于客队,对应3-0 3-1", {{3, 0}, {3, 1}}},
    {0.75, u" 主队实力远高于客队,对应3-1 2-0", {{3, 1}, {2, 0}}},
    {0.5, u" 主队实力明显高于客队,对应2-0 1-0", {{2, 0}, {1, 0}}},
    {0.25, u" 主队实力高于客队,对应1-0 2-1", {{1, 0}, {2, 1}}},
    {0.1, u" 主队实力略高于客队,对应2-1 1-1", {{2, 1}, {1, 1}}},
    {0.0, u" 主队实力与客队相当,对应1-1 1-0", {{1, 1}, {1, 0}}},
}};

// The away-side levels (d <= 0), closest to even first.
constexpr std::array<VerdictLevel, 7> AwayLevels{{
    {-0.1, u" 客队实力与主队相当,对应0-0 0-1", {{0, 0}, {0, 1}}},
    {-0.25, u" 客队实力略高于主队,对应0-1 0-0", {{0, 1}, {0, 0}}},
    {-0.5, u" 客队实力高于主队,对应1-2 0-1", {{1, 2}, {0, 1}}},
    {-0.75, u" 客队实力明显高于主队,对应0-2 1-2", {{0, 2}, {1, 2}}},
    {-1.0, u" 客队实力远高于主队,对应1-3 0-2", {{1, 3}, {0, 2}}},
    {-1.25, u" 客队实力超高于主队,对应0-3 1-3", {{0, 3}, {1, 3}}},
    {-std::numeric_limits<double>::infinity(), u" 客队实力超强于主队,对应1-4 0-3", {{1, 4}, {0, 3}}},
}};

StrengthLevel levelOf(const VerdictLevel &level, int number) {
    StrengthLevel result;
    result.number = number;
    result.text = QString::fromUtf16(level.text);
    for (int i = 0; i < 2; ++i)
        result.scores[size_t(i)] = {level.scores[i][0], level.scores[i][1]};
    return result;
}

} // namespace

QString ResultCodeToText(Value &code) {
    code = Value(code.number());
    const double n = code.number();
    if (n == -1)
        return QStringLiteral("负");
    if (n == 0)
        return QStringLiteral("平");
    return QStringLiteral("胜");
}

// Each level's upper bound is the bound of the level before it, inclusive.
StrengthLevel strengthLevel(double d) {
    if (d > 0) {
        for (size_t i = 0; i < HomeLevels.size(); ++i)
            if (d > HomeLevels[i].above)
                return levelOf(HomeLevels[i], int(i) + 1);
        return {};
    }
    for (size_t i = 0; i < AwayLevels.size(); ++i)
        if (d > AwayLevels[i].above)
            return levelOf(AwayLevels[i], int(HomeLevels.size() + i) + 1);
    return {};
}

QString StrengthVerdict(const ValueArray &strengths) {
    const double d = strengths.at(strength::Home20).toDouble() - strengths.at(strength::Away20).toDouble();
    if (!std::isfinite(d))
        throw StepFailure(QStringLiteral("strength difference is not a number"));
    return QStringLiteral("两队对应实力差Ⅰ:") + text::plainDecimal(text::roundHalfEven(d, 2)) + strengthLevel(d).text;
}

HeadToHead countHeadToHead(const AnalysisState &s, StepLog *log) {
    HeadToHead count;
    int last = -1;
    if (!attempt([&] { last = s.homeHistory.lastRow(); }, log))
        return count;
    const double opponent = s.awayTeamId.number();
    for (int row = 0; row <= last; ++row) {
        attempt([&] {
            const Table &h = s.homeHistory;
            if (h.at(history::HomeIdColumn, row).number() != opponent
                && h.at(history::AwayIdColumn, row).number() != opponent)
                return;
            const Value &result = h.at(history::ResultColumn, row);
            if (result.equals(1))
                ++count.wins;
            else if (result.equals(0))
                ++count.draws;
            else if (result.equals(-1))
                ++count.losses;
        }, log);
    }
    return count;
}

void drawStrengthPanel(AnalysisState &s, Canvas &strengthPanel, StepLog *log) {
    strengthPanel.clear();
    const double W = strengthPanel.width();
    strengthPanel.setForeColour(colour::Black);
    strengthPanel.setFontSize(14);
    printAt(strengthPanel, 150, 50, s.listMatchCaption.text());

    strengthPanel.setFontSize(13);
    strengthPanel.setLineStyle(Canvas::LineStyle::Solid);
    strengthPanel.setLineWidth(1);
    strengthPanel.line(0, 350, W, 350, colour::Black);
    strengthPanel.line(0, 1750, W, 1750, colour::Black);

    QString home = QStringLiteral("主队:") + resultMarks(s.homeHistory, log);
    attempt([&] {
        home += QStringLiteral("  实力Ⅰ:") + fixed2Cell(s.profile.strengths.at(strength::Home20)) +
                QStringLiteral(" 实力Ⅱ:") + s.profile.strengths.at(strength::Home10).text() + u' ' +
                s.profile.code20.text();
    }, log);
    QString away = QStringLiteral("客队:") + resultMarks(s.awayHistory, log);
    attempt([&] {
        away += QStringLiteral("  实力Ⅰ:") + fixed2Cell(s.profile.strengths.at(strength::Away20)) +
                QStringLiteral(" 实力Ⅱ:") + s.profile.strengths.at(strength::Away10).text() + u' ' +
                s.profile.code10.text();
    }, log);
    printAt(strengthPanel, 150, 400, home);
    printAt(strengthPanel, 150, 750, away);

    const HeadToHead h2h = countHeadToHead(s, log);
    const QString record =
        h2h.total() > 0
            ? QStringLiteral("两队近年共对阵:%1场 主队:%2胜 %3平 %4负").arg(h2h.total()).arg(h2h.wins).arg(h2h.draws).arg(h2h.losses)
            : QStringLiteral("两队近年没有对阵");
    printAt(strengthPanel, 150, 1100, record);

    attempt([&] { printAt(strengthPanel, 150, 1450, StrengthVerdict(s.profile.strengths)); }, log);
}

void drawHandicapComparison(AnalysisState &s, Canvas &strengthPanel, StepLog *log) {
    strengthPanel.fillBox(0, HandicapBlockTop, 8000, 5500, colour::White);
    const double W = strengthPanel.width();
    strengthPanel.setForeColour(colour::Blue);
    printAt(strengthPanel, 150, HandicapBlockTop, s.similarMatchCaption.text());

    const QString home = QStringLiteral("主队:") + resultMarks(s.homeHistory, log);
    const QString away = QStringLiteral(" 客队:") + resultMarks(s.awayHistory, log);
    const HeadToHead h2h = countHeadToHead(s, log);
    const QString record = h2h.total() > 0
                               ? QStringLiteral(" 对阵:%1胜 %2平 %3负").arg(h2h.wins).arg(h2h.draws).arg(h2h.losses)
                               : QStringLiteral(" 无对阵");
    printAt(strengthPanel, 150, 2150, home + away + record);

    strengthPanel.line(0, 2450, W, 2450, colour::Black);

    strengthPanel.setForeColour(colour::Black);
    attempt([&] {
        printAt(strengthPanel, 150, 2500,
                handicapLine(s.handicapSummary, handicap::ListMatchRow, QStringLiteral("本场:初盘 "), QStringLiteral(" 即时 ")));
    }, log);
    strengthPanel.setForeColour(colour::Blue);
    attempt([&] {
        printAt(strengthPanel, 150, 2850,
                handicapLine(s.handicapSummary, handicap::SimilarMatchRow, QStringLiteral("历史:初盘 "), QStringLiteral(" 终盘 ")));
    }, log);
}

} // namespace chenglan
