#pragma once

#include <QString>
#include <QStringList>

// What the client's scrapers make of the sample site's pages: their
// documented steps (markers, cuts, replacements, splits) over the client's
// own PageRenderer, so these tests fail when a page stops carrying what the
// scrapers rely on.
namespace chenglan::sample::view {

enum class Schedule { Jingcai, Beidan };

// The rows of a schedule page after cut, replacements and rendering, split
// at the inserted row mark; the part after the last mark is dropped.
QStringList scheduleRows(const QString &html, Schedule kind);

// The four "$"-separated texts an analysis page yields once its script code
// has run in a local page with the dump statements appended.
QStringList analysisTexts(const QString &html);

// The lines of the handicap change table (line 0 is its header), split at
// carriage returns, "受让" already shortened to "受".
QStringList detailLines(const QString &html);

} // namespace chenglan::sample::view
