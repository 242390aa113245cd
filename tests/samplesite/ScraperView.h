#pragma once

#include <QString>
#include <QStringList>

// What the client's scrapers make of the sample site's pages, done the way
// their documented steps do it (markers, cuts, replacements, splits), over a
// plain text view of the markup. It lets these tests check that the pages
// carry what the scrapers rely on without the client's renderer.
namespace chenglan::sample::view {

// Visible text of simple table markup: script and style content dropped, tags
// removed, entities decoded, "\r\n" after each table row and at <br>, nothing
// between cells, inter-tag whitespace dropped, other whitespace collapsed.
QString visibleText(const QString &html);

enum class Schedule { Jingcai, Beidan };

// The rows of a schedule page after cut, replacements and rendering, split
// at the inserted row mark; the part after the last mark is dropped.
QStringList scheduleRows(const QString &html, Schedule kind);

// The four "$"-separated texts an analysis page yields once its script has
// run with the dump statements appended; empty on a script error.
QStringList analysisTexts(const QString &html, QString *scriptError = nullptr);

// The lines of the handicap change table (line 0 is its header), each split
// later at ",".
QStringList detailLines(const QString &html);

} // namespace chenglan::sample::view
