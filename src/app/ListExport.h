#pragma once

#include "model/GridData.h"

#include <QList>
#include <QString>

class QWidget;

namespace chenglan {

class GridView;

// The columns of a grid worth handing on: those with a caption, in order
// (the row-key column and the uncaptioned spare columns are left out).
QList<int> captionedColumns(const GridData &grid);

// The given grid rows (1 is the first data row) as tab-separated lines, one
// per row, of the captioned columns, for pasting into a spreadsheet. Tabs and
// line breaks inside a cell become blanks.
QString rowsAsTabText(const GridData &grid, const QList<int> &gridRows);

// The whole grid as CSV: the captions, then every data row, fields of the
// captioned columns quoted where they hold a comma, a quote or a line break
// (a quote doubled), lines ended by CR LF, led by the UTF-8 byte-order mark
// so that spreadsheet programs read the Chinese as UTF-8.
QByteArray gridAsCsv(const GridData &grid);

// Puts the selected rows of a list on the clipboard; false when none is.
bool copySelectedRows(const GridView *list);

// Asks where to save a list as CSV (suggesting name, under the user's
// documents) and writes it there; says so in a message box when it fails.
// Returns the path written, empty when cancelled or failed.
QString exportList(QWidget *parent, const GridView *list, const QString &name);

} // namespace chenglan
