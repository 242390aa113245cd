#pragma once

#include "base/AnalysisState.h"
#include "charts/Canvas.h"

#include <QDir>
#include <QImage>
#include <QRect>

#include <cmath>
#include <initializer_list>

namespace chenglan::testing {

// A history table whose rows carry a result code (column 12) and the ids of
// both sides (columns 4 and 6).
struct HistoryRow {
    Value result;
    QString homeId = QStringLiteral("10");
    QString awayId = QStringLiteral("20");
};

inline Table historyTable(std::initializer_list<HistoryRow> rows) {
    Table t(31, int(rows.size()));
    int r = 0;
    for (const HistoryRow &row : rows) {
        t.set(12, r, row.result);
        t.set(4, r, Value(row.homeId));
        t.set(6, r, Value(row.awayId));
        ++r;
    }
    return t;
}

inline ValueArray summary(std::initializer_list<double> values) {
    ValueArray a(8);
    int i = 0;
    for (double v : values)
        a.set(i++, Value(v));
    return a;
}

// A list match as the pipeline leaves it before the drawings: home team 10
// against away team 35, six and more results each, a strength summary.
inline AnalysisState listMatch() {
    AnalysisState s;
    s.listMatchCaption = Value(u"英格兰超 2022-10-09 15:30 曼联足球俱2-1 利物浦足球");
    s.awayTeamId = Value(35.0);
    s.homeHistory = historyTable({{Value(u"1")}, {Value(u"0")}, {Value(u"-1"), QStringLiteral("35"), QStringLiteral("10")},
                             {Value(u"1"), QStringLiteral("10"), QStringLiteral("35")}, {Value(u"1")}, {Value(u"0")},
                             {Value(u"-1"), QStringLiteral("35"), QStringLiteral("10")}, {Value(u"1")}});
    s.awayHistory = historyTable({{Value(u"-1")}, {Value(u"0")}, {Value(u"1")}, {Value(u"1")}, {Value(u"-1")}, {Value(u"-1")}});
    s.profile.strengths = summary({1.2, 0.9, 1.1, 0.85, 0.95, 0.5, 0.9, 0.45});
    s.profile.code20 = Value(u"A31");
    s.profile.code10 = Value(u"D10");
    s.handicapSummary = Table(8, 2);
    return s;
}

// Trend series of n points: smooth home and away curves and their difference
// in columns 6..8 (strength I) and 9..11 (strength II).
inline Table trendSeries(int n) {
    Table t(21, n);
    for (int i = 0; i < n; ++i) {
        const double x = double(i) / std::max(1, n - 1);
        const double home = 0.6 + 0.5 * std::sin(3 * x);
        const double away = 0.2 - 0.4 * x;
        t.set(6, i, Value(home));
        t.set(7, i, Value(away));
        t.set(8, i, Value(home - away));
        t.set(9, i, Value(home * 0.8));
        t.set(10, i, Value(away * 1.2));
        t.set(11, i, Value(home * 0.8 - away * 1.2));
    }
    return t;
}

// Pixels of exactly this colour inside a rectangle of the image.
inline int countColour(const QImage &image, const QRect &area, int colour) {
    const QRgb want = toQRgb(colour);
    int n = 0;
    const QRect r = area.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            n += (image.pixel(x, y) & 0xFFFFFF) == (want & 0xFFFFFF);
    return n;
}

// Writes a picture for a person to look at when CHENGLAN_CHART_PNG names a folder.
inline void keepPicture(const Canvas &canvas, const QString &name) {
    const QString dir = qEnvironmentVariable("CHENGLAN_CHART_PNG");
    if (dir.isEmpty())
        return;
    QDir().mkpath(dir);
    canvas.writePng(dir + u'/' + name + QStringLiteral(".png"));
}

} // namespace chenglan::testing
