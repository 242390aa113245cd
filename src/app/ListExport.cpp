#include "app/ListExport.h"

#include "app/GridView.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QSaveFile>
#include <QStandardPaths>

namespace chenglan {

namespace {

QString flat(QString text) {
    text.replace(u'\t', u' ');
    text.replace(u'\r', u' ');
    text.replace(u'\n', u' ');
    return text;
}

QString csvField(const QString &text) {
    if (!text.contains(u',') && !text.contains(u'"') && !text.contains(u'\n') && !text.contains(u'\r'))
        return text;
    QString quoted = text;
    quoted.replace(QStringLiteral("\""), QStringLiteral("\"\""));
    return u'"' + quoted + u'"';
}

} // namespace

QList<int> captionedColumns(const GridData &grid) {
    QList<int> columns;
    if (grid.rows() == 0)
        return columns;
    for (int c = 0; c < grid.columns(); ++c)
        if (!grid.text(0, c).trimmed().isEmpty())
            columns.append(c);
    return columns;
}

QString rowsAsTabText(const GridData &grid, const QList<int> &gridRows) {
    const QList<int> columns = captionedColumns(grid);
    QString out;
    for (const int row : gridRows) {
        if (row < 1 || row >= grid.rows())
            continue;
        QStringList cells;
        for (const int c : columns)
            cells << flat(grid.text(row, c)).trimmed();
        out += cells.join(u'\t') + u'\n';
    }
    return out;
}

QByteArray gridAsCsv(const GridData &grid) {
    const QList<int> columns = captionedColumns(grid);
    QString out;
    for (int row = 0; row < grid.rows(); ++row) {
        QStringList fields;
        for (const int c : columns)
            fields << csvField(grid.text(row, c).trimmed());
        out += fields.join(u',') + QStringLiteral("\r\n");
    }
    return QByteArray("\xEF\xBB\xBF") + out.toUtf8();
}

bool copySelectedRows(const GridView *list) {
    const QList<int> rows = list->selectedGridRows();
    if (rows.isEmpty())
        return false;
    QApplication::clipboard()->setText(rowsAsTabText(list->grid(), rows));
    return true;
}

QString exportList(QWidget *parent, const GridView *list, const QString &name) {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString path = QFileDialog::getSaveFileName(parent, QStringLiteral("导出为 CSV"),
                                                      QDir(folder).filePath(name + QStringLiteral(".csv")),
                                                      QStringLiteral("CSV 表格 (*.csv)"));
    if (path.isEmpty())
        return {};
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(gridAsCsv(list->grid())) < 0 || !file.commit()) {
        QMessageBox::warning(parent, QStringLiteral("导出失败"),
                             QStringLiteral("无法写入 %1：%2").arg(QDir::toNativeSeparators(path), file.errorString()));
        return {};
    }
    return path;
}

} // namespace chenglan
