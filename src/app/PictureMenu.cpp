#include "app/PictureMenu.h"

#include "app/PictureBox.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QImageWriter>
#include <QMenu>
#include <QMessageBox>
#include <QStandardPaths>

namespace chenglan {

bool savePicture(const PictureBox *box, const QString &path, QString *why) {
    if (box->image().isNull()) {
        if (why)
            *why = QStringLiteral("这里还没有图片");
        return false;
    }
    QImageWriter writer(path, "png");
    if (writer.write(box->image()))
        return true;
    if (why)
        *why = writer.errorString();
    return false;
}

void addPictureMenu(PictureBox *box, const QString &name) {
    box->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(box, &QWidget::customContextMenuRequested, box, [box, name](const QPoint &at) {
        QMenu menu(box);
        QAction *save = menu.addAction(QStringLiteral("保存图片…"));
        QAction *copy = menu.addAction(QStringLiteral("复制图片"));
        save->setEnabled(!box->image().isNull());
        copy->setEnabled(!box->image().isNull());
        QAction *chosen = menu.exec(box->mapToGlobal(at));
        if (chosen == copy) {
            QApplication::clipboard()->setImage(box->image());
        } else if (chosen == save) {
            const QString folder = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
            const QString path = QFileDialog::getSaveFileName(box, QStringLiteral("保存图片"),
                                                              QDir(folder).filePath(name + QStringLiteral(".png")),
                                                              QStringLiteral("PNG 图片 (*.png)"));
            QString why;
            if (!path.isEmpty() && !savePicture(box, path, &why))
                QMessageBox::warning(box, QStringLiteral("保存失败"),
                                     QStringLiteral("无法保存 %1：%2").arg(QDir::toNativeSeparators(path), why));
        }
    });
}

} // namespace chenglan
