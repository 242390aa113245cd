#pragma once

#include <QString>

class QWidget;

namespace chenglan {

class PictureBox;

// A right click on the box offers "保存图片…" (PNG, suggesting name under the
// user's pictures) and "复制图片" of the picture it shows.
void addPictureMenu(PictureBox *box, const QString &name);

// Saves the box's picture as PNG at path; false with the reason in *why.
bool savePicture(const PictureBox *box, const QString &path, QString *why = nullptr);

} // namespace chenglan
