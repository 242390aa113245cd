#include "model/GridData.h"

#include "base/Step.h"

namespace chenglan {

GridData::GridData(int columns) : m_columns(columns > 0 ? columns : 1) {
    m_widths.resize(m_columns);
    m_alignments.resize(m_columns);
    m_merge.resize(m_columns);
    Row captions;
    captions.cells.resize(m_columns);
    m_rows.append(captions);
}

void GridData::setFormat(const QString &format) {
    m_format = format;
    const QStringList captions = format.split(u'|');
    if (captions.size() > m_columns) {
        m_columns = int(captions.size());
        m_widths.resize(m_columns);
        m_alignments.resize(m_columns);
        m_merge.resize(m_columns);
        for (Row &r : m_rows)
            r.cells.resize(m_columns);
    }
    for (int c = 0; c < captions.size(); ++c) {
        QString caption = captions[c];
        if (!caption.isEmpty() && (caption[0] == u'<' || caption[0] == u'^' || caption[0] == u'>')) {
            m_alignments[c] = caption[0] == u'<' ? LeftCenter : caption[0] == u'^' ? Center : RightCenter;
            caption.remove(0, 1);
        }
        m_rows[0].cells[c].text = caption;
    }
}

void GridData::setColumnWidth(int column, int twips) {
    if (column < 0 || column >= m_columns)
        throw StepFailure(QStringLiteral("grid column %1 out of range").arg(column));
    m_widths[column] = twips;
}

std::optional<int> GridData::columnWidth(int column) const {
    return column >= 0 && column < m_columns ? m_widths[column] : std::nullopt;
}

std::optional<int> GridData::columnAlignment(int column) const {
    return column >= 0 && column < m_columns ? m_alignments[column] : std::nullopt;
}

void GridData::setColumnAlignment(int column, int alignment) {
    if (column < 0 || column >= m_columns)
        throw StepFailure(QStringLiteral("grid column %1 out of range").arg(column));
    m_alignments[column] = alignment;
}

void GridData::setRows(int rows) {
    if (rows < 1)
        rows = 1;
    const int old = int(m_rows.size());
    m_rows.resize(rows);
    for (int r = old; r < rows; ++r)
        m_rows[r].cells.resize(m_columns);
    if (m_currentRow >= rows)
        m_currentRow = rows - 1;
}

void GridData::addItem(const QString &line) {
    Row r;
    r.cells.resize(m_columns);
    const QStringList parts = line.split(u'\t');
    for (int c = 0; c < m_columns && c < parts.size(); ++c)
        r.cells[c].text = parts[c];
    m_rows.append(r);
}

void GridData::select(int row, int column) {
    if (row < 0 || row >= rows() || column < 0 || column >= m_columns)
        throw StepFailure(QStringLiteral("grid cell (%1, %2) out of range").arg(row).arg(column));
    m_currentRow = row;
    m_currentColumn = column;
}

GridData::Cell &GridData::currentCell() { return m_rows[m_currentRow].cells[m_currentColumn]; }

void GridData::restoreCellBackColor(std::optional<int> color) { currentCell().backColor = color; }

void GridData::setCellBackColor(int color) { currentCell().backColor = color; }
void GridData::setCellForeColor(int color) { currentCell().foreColor = color; }
void GridData::setCellAlignment(int alignment) { currentCell().alignment = alignment; }

void GridData::setRowHeight(int row, int twips) {
    if (row < 0 || row >= rows())
        throw StepFailure(QStringLiteral("grid row %1 out of range").arg(row));
    m_rows[row].heightTwips = twips;
}

void GridData::setMergeColumn(int column, bool merge) {
    if (column < 0 || column >= m_columns)
        throw StepFailure(QStringLiteral("grid column %1 out of range").arg(column));
    m_merge[column] = merge;
}

bool GridData::mergeColumn(int column) const { return column >= 0 && column < m_columns && m_merge[column]; }

const GridData::Row &GridData::row(int row) const {
    if (row < 0 || row >= rows())
        throw StepFailure(QStringLiteral("grid row %1 out of range").arg(row));
    return m_rows[row];
}

const GridData::Cell &GridData::cell(int r, int column) const {
    const Row &x = row(r);
    if (column < 0 || column >= m_columns)
        throw StepFailure(QStringLiteral("grid column %1 out of range").arg(column));
    return x.cells[column];
}

QString GridData::text(int r, int column) const { return cell(r, column).text; }

QStringList GridData::dataLines() const {
    QStringList lines;
    for (int r = 1; r < rows(); ++r) {
        QStringList cells;
        for (const Cell &c : m_rows[r].cells)
            cells << c.text;
        lines << cells.join(u'\t');
    }
    return lines;
}

} // namespace chenglan
