#include "app/GridView.h"

#include "app/MainLayout.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QStyledItemDelegate>

#include <algorithm>

namespace chenglan {

namespace {

// Alignment codes of the grid control: 0-2 left, 3-5 centre, 6-8 right, each
// top, centre, bottom; anything else reads as left and centred vertically.
Qt::Alignment alignmentFromCode(std::optional<int> code) {
    if (!code || *code < 0 || *code > 8)
        return Qt::AlignLeft | Qt::AlignVCenter;
    const Qt::Alignment horizontal[] = {Qt::AlignLeft, Qt::AlignHCenter, Qt::AlignRight};
    const Qt::Alignment vertical[] = {Qt::AlignTop, Qt::AlignVCenter, Qt::AlignBottom};
    return horizontal[*code / 3] | vertical[*code % 3];
}

// Paints a cell as the grid control did: its background, its text in its
// colour and alignment, two pixels from the edges. A text too wide for its
// column (the kick-off "10-09 15:30" in a 600-twip column) is broken at its
// blanks and slashes onto as many lines as the row has room for; a line that
// still does not fit is drawn narrower (down to NarrowestStretch of its
// width), and only what does not fit even then is elided, with the whole
// text in the tooltip.
class CellDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // Percent of a font's normal width a line may be narrowed to.
    static constexpr int NarrowestStretch = 70;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override {
        painter->save();
        // The cell's own colour, else the base colour over the style's solid
        // highlight of a selected row, which the tint replaces.
        const QVariant back = index.data(Qt::BackgroundRole);
        painter->fillRect(option.rect, back.canConvert<QColor>() ? back.value<QColor>()
                                                                : option.palette.color(QPalette::Base));
        if (option.state & QStyle::State_Selected) {
            QColor tint = option.palette.color(QPalette::Highlight);
            tint.setAlpha(SelectionAlpha);
            painter->fillRect(option.rect, tint);
        }
        const QVariant fore = index.data(Qt::ForegroundRole);
        painter->setPen(fore.canConvert<QColor>() ? fore.value<QColor>() : option.palette.color(QPalette::Text));
        painter->setFont(option.font);

        const QRect area = option.rect.adjusted(2, 1, -2, -1);
        const QFontMetrics fm(option.font);
        const Qt::Alignment align = index.data(Qt::TextAlignmentRole).value<Qt::Alignment>();
        const QStringList lines = fitLines(index.data().toString(), fm, area);
        const int step = lines.size() > 1 ? std::min(fm.height(), area.height() / int(lines.size())) : fm.height();
        const int total = step * int(lines.size());
        int top = area.top();
        if (align & Qt::AlignVCenter)
            top += (area.height() - total) / 2;
        else if (align & Qt::AlignBottom)
            top += area.height() - total;
        for (const QString &line : lines) {
            const QRect band(area.left(), top, area.width(), step);
            const int width = fm.horizontalAdvance(line);
            QFont font = option.font;
            if (width > area.width())
                font.setStretch(std::max(NarrowestStretch, 100 * area.width() / width));
            painter->setFont(font);
            painter->drawText(band, int(align & Qt::AlignHorizontal_Mask) | Qt::AlignVCenter,
                              QFontMetrics(font).elidedText(line, Qt::ElideRight, area.width()));
            top += step;
        }
        paintFocusFrame(painter, option, index);
        painter->restore();
    }

private:
    // How much of the highlight colour tints a selected cell, of 255: the
    // cell's own colours stay readable under it.
    static constexpr int SelectionAlpha = 55;
    static constexpr int FocusFrameWidth = 2;

    // The current row of a view that has the focus is framed: top and
    // bottom edges in every cell, the sides in its first and last visible
    // cells.
    void paintFocusFrame(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const {
        const auto *view = qobject_cast<const QTableView *>(parent());
        if (!view || !view->hasFocus() || view->currentIndex().row() != index.row())
            return;
        const QRect r = option.rect.adjusted(0, 0, -1, -1);
        QPen pen(option.palette.color(QPalette::Active, QPalette::Highlight), FocusFrameWidth);
        pen.setJoinStyle(Qt::MiterJoin);
        painter->setPen(pen);
        const int half = FocusFrameWidth / 2;
        painter->drawLine(r.left(), r.top() + half, r.right(), r.top() + half);
        painter->drawLine(r.left(), r.bottom() - half + 1, r.right(), r.bottom() - half + 1);
        int first = 0;
        while (first < view->model()->columnCount() && view->isColumnHidden(first))
            ++first;
        int last = view->model()->columnCount() - 1;
        while (last > 0 && view->isColumnHidden(last))
            --last;
        if (index.column() == first)
            painter->drawLine(r.left() + half, r.top(), r.left() + half, r.bottom());
        if (index.column() == last)
            painter->drawLine(r.right() - half + 1, r.top(), r.right() - half + 1, r.bottom());
    }

    // Breaks after a blank or a "/" ("受让平手/半球"), the blank dropped.
    static QStringList fitLines(const QString &text, const QFontMetrics &fm, const QRect &area) {
        if (fm.horizontalAdvance(text) <= area.width())
            return {text};
        QStringList words;
        QString word;
        for (const QChar c : text) {
            if (c != u' ')
                word += c;
            if ((c == u' ' || c == u'/') && !word.isEmpty()) {
                words.append(word);
                word.clear();
            }
        }
        if (!word.isEmpty())
            words.append(word);
        if (words.size() < 2)
            return {text};
        // Lines may sit closer than the font's line height, whose CJK ascent
        // and descent leave much room: an em and a little is enough.
        const int closest = fm.tightBoundingRect(QStringLiteral("国")).height() * 23 / 20;
        const int room = std::max(1, area.height() / std::max(1, std::min(closest, fm.height())));
        auto join = [](const QString &line, const QString &next) {
            return line.endsWith(u'/') ? line + next : line + u' ' + next;
        };
        QStringList lines;
        for (const QString &w : std::as_const(words)) {
            if (!lines.isEmpty() && fm.horizontalAdvance(join(lines.last(), w)) <= area.width())
                lines.last() = join(lines.last(), w);
            else
                lines.append(w);
        }
        while (lines.size() > room) {
            const QString last = lines.takeLast();
            lines.last() = join(lines.last(), last);
        }
        return lines;
    }
};

} // namespace

QColor colorFromValue(int value) { return QColor(value & 0xff, (value >> 8) & 0xff, (value >> 16) & 0xff); }

void GridModel::setGrid(const GridData &grid) {
    beginResetModel();
    m_grid = grid;
    endResetModel();
}

void GridModel::setCellBackColor(int gridRow, int column, int color) {
    if (gridRow < 1 || gridRow >= m_grid.rows() || column < 0 || column >= m_grid.columns())
        return;
    m_grid.select(gridRow, column);
    m_grid.setCellBackColor(color);
    const QModelIndex i = index(gridRow - 1, column);
    emit dataChanged(i, i, {Qt::BackgroundRole});
}

void GridModel::restoreCellBackColor(int gridRow, int column, std::optional<int> color) {
    if (gridRow < 1 || gridRow >= m_grid.rows() || column < 0 || column >= m_grid.columns())
        return;
    m_grid.select(gridRow, column);
    m_grid.restoreCellBackColor(color);
    const QModelIndex i = index(gridRow - 1, column);
    emit dataChanged(i, i, {Qt::BackgroundRole});
}

int GridModel::rowCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : m_grid.rows() - 1; }

int GridModel::columnCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : m_grid.columns(); }

QVariant GridModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid() || index.row() + 1 >= m_grid.rows() || index.column() >= m_grid.columns())
        return {};
    const GridData::Cell &cell = m_grid.cell(index.row() + 1, index.column());
    switch (role) {
    case Qt::ToolTipRole:
        if (m_toolTips) {
            const QString full = m_toolTips(index.row() + 1, index.column());
            if (!full.isEmpty())
                return full;
        }
        return cell.text;
    case Qt::DisplayRole:
        return cell.text;
    case Qt::BackgroundRole:
        if (cell.backColor)
            return colorFromValue(*cell.backColor);
        if (index.column() < m_fixedColumns && m_fixedBackground.isValid())
            return m_fixedBackground;
        return {};
    case Qt::ForegroundRole:
        return cell.foreColor ? QVariant(colorFromValue(*cell.foreColor)) : QVariant();
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(
            alignmentFromCode(cell.alignment ? cell.alignment : m_grid.columnAlignment(index.column())));
    default:
        return {};
    }
}

QVariant GridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= m_grid.columns())
        return {};
    if (role == Qt::DisplayRole)
        return m_grid.text(0, section);
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignCenter));
    return {};
}

Qt::ItemFlags GridModel::flags(const QModelIndex &index) const {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

GridView::GridView(int fixedColumns, int keyColumn, QWidget *parent) : QTableView(parent), m_keyColumn(keyColumn) {
    m_model.setFixedColumns(fixedColumns);
    m_model.setFixedBackground(palette().color(QPalette::Button));
    setModel(&m_model);
    verticalHeader()->hide();
    horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    horizontalHeader()->setHighlightSections(false);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setMinimumSectionSize(1);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setFocusPolicy(Qt::StrongFocus);
    setItemDelegate(new CellDelegate(this));
    // Half-width digits, as the grid control's classic font had: "10-09"
    // and "15:30" fit the 600-twip columns.
    QFont cells = font();
    cells.setFamilies({QStringLiteral("Noto Sans Mono CJK SC"), QStringLiteral("Noto Sans CJK SC")});
    cells.setPointSize(9);
    setFont(cells);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    connect(this, &QTableView::clicked, this, [this](const QModelIndex &index) {
        m_keyRest.stop(); // the click is newer than any key
        if (index.isValid())
            emit cellClicked(index.row() + 1, index.column());
    });
    m_keyRest.setSingleShot(true);
    m_keyRest.setInterval(KeyRestMs);
    connect(&m_keyRest, &QTimer::timeout, this, &GridView::reportCurrent);
    // The focus frame is drawn across the whole current row.
    connect(selectionModel(), &QItemSelectionModel::currentRowChanged, viewport(), qOverload<>(&QWidget::update));
}

void GridView::focusInEvent(QFocusEvent *event) {
    QTableView::focusInEvent(event);
    viewport()->update();
}

void GridView::focusOutEvent(QFocusEvent *event) {
    QTableView::focusOutEvent(event);
    viewport()->update();
}

void GridView::reportCurrent() {
    m_keyRest.stop();
    const QModelIndex current = currentIndex();
    if (current.isValid())
        emit cellClicked(current.row() + 1, current.column());
}

QString GridView::rowKey(int row) const {
    return m_keyColumn >= 0 && m_keyColumn < m_model.columnCount() ? m_model.grid().text(row + 1, m_keyColumn)
                                                                   : QString::number(row);
}

QList<int> GridView::selectedGridRows() const {
    QList<int> rows;
    for (const QModelIndex &index : selectionModel()->selectedRows())
        rows.append(index.row() + 1);
    std::sort(rows.begin(), rows.end());
    return rows;
}

void GridView::keyPressEvent(QKeyEvent *event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        reportCurrent();
        event->accept();
        return;
    }
    if (event == QKeySequence::Copy) {
        emit copied();
        event->accept();
        return;
    }
    const QModelIndex before = currentIndex();
    QTableView::keyPressEvent(event);
    // Shift or Ctrl with a move extends the selection, for copying: no analysis.
    const bool selecting = event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier);
    if (currentIndex() != before && currentIndex().isValid() && !selecting)
        m_keyRest.start();
}

// Up and Down go to the next record, past the further lines of the current
// one, in a column without merged cells; the first key starts on the first
// row. The other moves are the table's own.
QModelIndex GridView::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) {
    const int rows = m_model.rowCount();
    if (rows == 0)
        return {};
    const QModelIndex from = currentIndex();
    const int keyboardColumn = std::min(KeyboardColumn, m_model.columnCount() - 1);
    if (!from.isValid())
        return m_model.index(0, keyboardColumn);
    if (action != MoveUp && action != MoveDown)
        return QTableView::moveCursor(action, modifiers);
    const int step = action == MoveDown ? 1 : -1;
    const QString key = rowKey(from.row());
    int row = from.row() + step;
    while (row >= 0 && row < rows && (isRowHidden(row) || rowKey(row) == key))
        row += step;
    if (row < 0 || row >= rows)
        return from;
    // The first line of a record, when moving up into it.
    while (step < 0 && row > 0 && rowKey(row - 1) == rowKey(row))
        --row;
    const int column = rowSpan(from.row(), from.column()) > 1 || rowSpan(row, from.column()) > 1
        ? keyboardColumn
        : from.column();
    return m_model.index(row, column);
}

void GridView::setGrid(const GridData &grid) {
    m_model.setGrid(grid);
    applyGeometry();
}

void GridView::applyGeometry() {
    const GridData &grid = m_model.grid();
    const double dpiX = logicalDpiX();
    const double dpiY = logicalDpiY();

    for (int c = 0; c < grid.columns(); ++c)
        setColumnWidth(c, twipsToPixels(grid.columnWidth(c).value_or(DefaultColumnTwips), dpiX));
    if (m_keyColumn >= 0 && m_keyColumn < grid.columns())
        setColumnHidden(m_keyColumn, true);

    const int defaultHeight = fontMetrics().height() + 6;
    for (int r = 1; r < grid.rows(); ++r) {
        const auto twips = grid.row(r).heightTwips;
        setRowHeight(r - 1, twips ? twipsToPixels(*twips, dpiY) : defaultHeight);
    }

    clearSpans();
    if (grid.mergeMode() == 0)
        return;
    // Mode 3 and 4 merge a cell with the one below only when the cells to its
    // left are merged as well.
    const bool restricted = grid.mergeMode() >= 3;
    QList<int> previousRunStart(grid.rows(), -1);
    for (int c = 0; c < grid.columns(); ++c) {
        QList<int> runStart(grid.rows(), -1);
        if (grid.mergeColumn(c)) {
            int start = 1;
            for (int r = 2; r <= grid.rows(); ++r) {
                const bool joins = r < grid.rows() && grid.text(r, c) == grid.text(start, c)
                    && (!restricted || c == 0 || previousRunStart[r] == previousRunStart[start]);
                if (joins)
                    continue;
                for (int k = start; k < r; ++k)
                    runStart[k] = start;
                if (r - start > 1)
                    setSpan(start - 1, c, r - start, 1);
                start = r;
            }
        } else {
            for (int r = 1; r < grid.rows(); ++r)
                runStart[r] = r;
        }
        previousRunStart = runStart;
    }
}

} // namespace chenglan
