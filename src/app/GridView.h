#pragma once

#include "model/GridData.h"

#include <QAbstractTableModel>
#include <QColor>
#include <QTableView>
#include <QTimer>

#include <functional>

namespace chenglan {

// A colour value (red + 256 * green + 65536 * blue) as a QColor.
QColor colorFromValue(int value);

// Shows a GridData: row 0 as the column captions, rows 1.. as data rows, with
// the cells' colours and alignment. Row r of the model is grid row r + 1.
class GridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit GridModel(QObject *parent = nullptr) : QAbstractTableModel(parent) {}

    void setGrid(const GridData &grid);
    const GridData &grid() const { return m_grid; }
    // Sets one cell's background without rebuilding the view.
    void setCellBackColor(int gridRow, int column, int color);
    void restoreCellBackColor(int gridRow, int column, std::optional<int> color);
    // Where a cell's tooltip comes from when not from its text: the full
    // name behind a name the list cuts short. Given grid row and column; an
    // empty answer leaves the cell's text.
    using ToolTipSource = std::function<QString(int gridRow, int column)>;
    void setToolTipSource(ToolTipSource source) { m_toolTips = std::move(source); }
    // Leading columns drawn as fixed cells (a button-face background unless
    // a cell has its own colour).
    void setFixedColumns(int columns) { m_fixedColumns = columns; }
    void setFixedBackground(const QColor &color) { m_fixedBackground = color; }

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

private:
    GridData m_grid;
    ToolTipSource m_toolTips;
    int m_fixedColumns = 0;
    QColor m_fixedBackground;
};

// The grid control of the main window: a table view over a GridModel that
// applies the grid's column widths and row heights (twips, at the view's
// logical DPI), merges equal neighbouring cells of the merge columns, hides
// the row-key column and reports clicked cells by grid row and column.
//
// From the keyboard: Up and Down move by record (the lines of a record share
// its row key) and report the reached cell as clicked once the keys have
// rested KeyRestMs, so a burst of presses reports once; Enter reports the
// current cell at once; Ctrl+C copies the selected rows (copied()). Selected
// rows are tinted and the current row framed while the view has the focus.
class GridView : public QTableView {
    Q_OBJECT
public:
    explicit GridView(int fixedColumns, int keyColumn, QWidget *parent = nullptr);

    void setGrid(const GridData &grid);
    const GridData &grid() const { return m_model.grid(); }
    void setCellBackColor(int gridRow, int column, int color) { m_model.setCellBackColor(gridRow, column, color); }
    void restoreCellBackColor(int gridRow, int column, std::optional<int> color) {
        m_model.restoreCellBackColor(gridRow, column, color);
    }
    void setToolTipSource(GridModel::ToolTipSource source) { m_model.setToolTipSource(std::move(source)); }

    // Default width of a column the grid gives none, in twips.
    static constexpr int DefaultColumnTwips = 960;
    // How long the arrow keys must rest before the reached row is analysed.
    static constexpr int KeyRestMs = 300;
    // The column the keyboard starts in, and moves in from a merged cell.
    static constexpr int KeyboardColumn = 2;

    // Grid rows (1 is the first data row) of the selected rows, in order.
    QList<int> selectedGridRows() const;

signals:
    // A data cell was clicked, or reached from the keyboard: grid row (1 is
    // the first data row) and column.
    void cellClicked(int gridRow, int column);
    // Ctrl+C put the selected rows on the clipboard.
    void copied();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    void applyGeometry();
    void reportCurrent();
    QString rowKey(int row) const;

    GridModel m_model;
    int m_keyColumn;
    QTimer m_keyRest;
};

} // namespace chenglan
