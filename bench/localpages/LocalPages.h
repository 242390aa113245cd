#pragma once

#include "html/PageRenderer.h"

#include <QString>

namespace chenglan::bench {

// The local pages the scrapers hand to a renderer, made from the pages the
// sites serve, so that every engine of the benchmark renders exactly what our
// scrapers render.

// The schedule's and the change detail's local pages are the scrapers' own:
// jingcaiTablePage() (web/ScheduleScraper.h) and handicapChangeMarkup()
// (web/HandicapDetail.h).

// The analysis page's local page as loadAnalysisPage makes it: the page's script code,
// cut from its body markup, in a local page that runs it and writes the home,
// away and third record lists and the info line, separated by "$".
QString analysisDumpPage(const QString &analysisHtml, const PageRenderer &renderer);

// A marked schedule page whose match rows are repeated until the page holds
// at least minUtf8Bytes bytes in UTF-8: one table, the same markup, many rows.
QString largeTablePage(const QString &markedSchedule, qsizetype minUtf8Bytes);

// The match id of the first listed row of a rendered schedule page (piece 8
// of the first "‖" line with at least 12 ","-pieces), 0 when none.
qint64 firstMatchId(const QString &renderedSchedule);

} // namespace chenglan::bench
