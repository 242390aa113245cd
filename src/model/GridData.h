#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace chenglan {

// The content of a grid control, as the listing steps write it: a caption row
// (row 0) and data rows appended from tab-separated lines, with per-cell
// colours and alignment, row heights in twips and merging in chosen columns.
// The listing steps (fillMatchList, fillSimilarList) write one in the core library; the window
// shows it in a Qt item view and the command line prints it.
class GridData {
public:
    // Alignment codes of the grid control: 0-2 left (top, centre, bottom),
    // 3-5 centre, 6-8 right.
    enum Alignment { LeftCenter = 1, Center = 4, RightCenter = 7 };

    struct Cell {
        QString text;
        std::optional<int> backColor; // 24-bit colour red + 256 green + 65536 blue
        std::optional<int> foreColor;
        std::optional<int> alignment;
        friend bool operator==(const Cell &, const Cell &) = default;
    };
    struct Row {
        QList<Cell> cells;
        std::optional<int> heightTwips;
        friend bool operator==(const Row &, const Row &) = default;
    };

    explicit GridData(int columns = 1);

    // The caption format: captions separated by "|", each optionally led by
    // "<" (left), "^" (centre) or ">" (right), which sets the column alignment.
    void setFormat(const QString &format);
    QString format() const { return m_format; }
    int columns() const { return m_columns; }
    void setColumnWidth(int column, int twips);
    std::optional<int> columnWidth(int column) const;
    std::optional<int> columnAlignment(int column) const;
    void setColumnAlignment(int column, int alignment);

    // Rows including the caption row 0. setRows(1) keeps only the captions.
    int rows() const { return int(m_rows.size()); }
    void setRows(int rows);
    // Appends a row from a tab-separated line filling the columns from 0.
    void addItem(const QString &line);

    // The current cell and the operations on it; out-of-range selections
    // throw StepFailure, as the control raised an error.
    void select(int row, int column);
    void setCellBackColor(int color);
    // Gives the current cell back a colour it had, or none.
    void restoreCellBackColor(std::optional<int> color);
    void setCellForeColor(int color);
    void setCellAlignment(int alignment);
    void setRowHeight(int row, int twips);

    // Merging: mode 2 merges equal neighbouring texts of a column vertically.
    void setMergeMode(int mode) { m_mergeMode = mode; }
    int mergeMode() const { return m_mergeMode; }
    void setMergeColumn(int column, bool merge);
    bool mergeColumn(int column) const;

    const Row &row(int row) const;
    QString text(int row, int column) const;
    const Cell &cell(int row, int column) const;

    // Data rows (1..) as tab-separated lines: what the command line prints.
    QStringList dataLines() const;

    friend bool operator==(const GridData &, const GridData &) = default;

private:
    Cell &currentCell();

    int m_columns;
    QString m_format;
    QList<std::optional<int>> m_widths;
    QList<std::optional<int>> m_alignments;
    QList<bool> m_merge;
    int m_mergeMode = 0;
    QList<Row> m_rows;
    int m_currentRow = 0;
    int m_currentColumn = 0;
};

} // namespace chenglan
