#include "base/Table.h"

#include "base/Step.h"

#include <ostream>

namespace chenglan {

Table::Table(int columns, int rows)
    : m_columns(columns > 0 ? columns : 0), m_rows(rows > 0 && columns > 0 ? rows : 0) {
    m_cells.resize(qsizetype(m_columns) * m_rows);
}

int Table::lastRow() const {
    if (!allocated())
        throw StepFailure(QStringLiteral("table not allocated"));
    if (m_rows == 0)
        throw StepFailure(QStringLiteral("table has no row"));
    return m_rows - 1;
}

void Table::check(int column, int row) const {
    if (!allocated())
        throw StepFailure(QStringLiteral("table not allocated"));
    if (column < 0 || column >= m_columns || row < 0 || row >= m_rows)
        throw StepFailure(QStringLiteral("cell (%1, %2) outside a table of %3 columns and %4 rows")
                              .arg(column).arg(row).arg(m_columns).arg(m_rows));
}

const Value &Table::at(int column, int row) const {
    check(column, row);
    return m_cells[qsizetype(row) * m_columns + column];
}

void Table::set(int column, int row, Value value) {
    check(column, row);
    m_cells[qsizetype(row) * m_columns + column] = std::move(value);
}

void Table::resizeRows(int rows) {
    if (!allocated())
        throw StepFailure(QStringLiteral("table not allocated"));
    m_rows = rows > 0 ? rows : 0;
    m_cells.resize(qsizetype(m_columns) * m_rows);
}

int Table::appendRow() {
    resizeRows(m_rows + 1);
    return m_rows - 1;
}

void ValueArray::check(int index) const {
    if (!m_allocated)
        throw StepFailure(QStringLiteral("array not allocated"));
    if (index < 0 || index >= m_cells.size())
        throw StepFailure(QStringLiteral("element %1 outside an array of %2").arg(index).arg(m_cells.size()));
}

const Value &ValueArray::at(int index) const {
    check(index);
    return m_cells[index];
}

void ValueArray::set(int index, Value value) {
    check(index);
    m_cells[index] = std::move(value);
}

void ValueArray::resize(int size) {
    m_allocated = true;
    m_cells.resize(size > 0 ? size : 0);
}

QString describe(const Table &table) {
    if (!table.allocated())
        return QStringLiteral("<unallocated table>");
    QString out = QStringLiteral("table %1x%2\n").arg(table.columns()).arg(table.rows());
    for (int r = 0; r < table.rows(); ++r) {
        out += QStringLiteral("  row %1:").arg(r);
        for (int c = 0; c < table.columns(); ++c) {
            const Value &v = table.at(c, r);
            if (!v.isEmpty())
                out += QStringLiteral(" [%1]=%2").arg(c).arg(describe(v));
        }
        out += u'\n';
    }
    return out;
}

QString describe(const ValueArray &array) {
    if (!array.allocated())
        return QStringLiteral("<unallocated array>");
    QStringList parts;
    for (int i = 0; i < array.size(); ++i)
        parts << describe(array.at(i));
    return u'[' + parts.join(QStringLiteral(", ")) + u']';
}

void PrintTo(const Table &table, std::ostream *os) { *os << describe(table).toStdString(); }
void PrintTo(const ValueArray &array, std::ostream *os) { *os << describe(array).toStdString(); }

} // namespace chenglan
