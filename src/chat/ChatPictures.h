#pragma once
// Button bitmaps and call-list icons of the chat windows. Built without the
// compiled-in pictures, these are null and the buttons show their text.
#include <QAbstractButton>
#include <QIcon>
#include <QPixmap>

namespace velmora {

QPixmap ChatGlyph(const char *name);
// Shows the glyph `name` on `button`, or `fallback` as its text without one.
void SetChatGlyph(QAbstractButton &button, const char *name, const QString &fallback);
QIcon ChatStatusIcon(int index);

} // namespace velmora
