#pragma once
// Button bitmaps and call-list icons of the chat windows. Built without the
// compiled-in pictures, these are null and the buttons show their text.
#include <QIcon>
#include <QPixmap>

namespace velmora {

QPixmap ChatGlyph(const char *name);
QIcon ChatStatusIcon(int index);

} // namespace velmora
