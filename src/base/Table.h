#pragma once

#include "base/Value.h"

#include <QList>
#include <QString>

#include <iosfwd>

namespace chenglan {

// A two-dimensional table of value cells addressed (column, row). It grows by
// rows and keeps every cell when it does; a never-written cell is empty.
// A default-constructed table is unallocated: reading it fails, so that a
// step reading a table no earlier step filled skips that statement.
class Table {
public:
    Table() = default;
    Table(int columns, int rows);

    bool allocated() const { return m_columns > 0; }
    int columns() const { return m_columns; }
    int rows() const { return m_rows; }
    // Index of the last row; fails on an unallocated or empty table.
    int lastRow() const;

    // Checked access: an index outside the table throws StepFailure.
    const Value &at(int column, int row) const;
    void set(int column, int row, Value value);

    // Changes the row count and keeps the cells of the rows that remain.
    void resizeRows(int rows);
    // A new row of empty cells at the end; returns its index.
    int appendRow();

    friend bool operator==(const Table &a, const Table &b) = default;

private:
    void check(int column, int row) const;

    int m_columns = 0;
    int m_rows = 0;
    QList<Value> m_cells; // row-major: rows grow at the end
};

// A one-dimensional array of value cells (profile.strengths, matchRowFlags,
// analysisData). Unallocated until it is given a size.
class ValueArray {
public:
    ValueArray() = default;
    explicit ValueArray(int size) : m_allocated(true), m_cells(size) {}

    bool allocated() const { return m_allocated; }
    int size() const { return int(m_cells.size()); }

    const Value &at(int index) const;
    void set(int index, Value value);
    void resize(int size);

    friend bool operator==(const ValueArray &a, const ValueArray &b) = default;

private:
    void check(int index) const;

    bool m_allocated = false;
    QList<Value> m_cells;
};

QString describe(const Table &table);
QString describe(const ValueArray &array);
void PrintTo(const Table &table, std::ostream *os);
void PrintTo(const ValueArray &array, std::ostream *os);

} // namespace chenglan
