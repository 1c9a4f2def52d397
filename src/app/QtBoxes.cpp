#include "app/QtBoxes.h"

#include <QApplication>
#include <QMessageBox>

namespace velmora {

BoxAnswer TQtBoxes::Show(const BoxRequest &request)
{
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(request.caption);
    // Texts are shown exactly as they are, never interpreted as markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(request.text);
    switch (request.icon) {
    case BoxIcon::None: box.setIcon(QMessageBox::NoIcon); break;
    case BoxIcon::Information: box.setIcon(QMessageBox::Information); break;
    case BoxIcon::Warning: box.setIcon(QMessageBox::Warning); break;
    case BoxIcon::Error: box.setIcon(QMessageBox::Critical); break;
    case BoxIcon::Question: box.setIcon(QMessageBox::Question); break;
    }
    switch (request.buttons) {
    case BoxButtons::Ok: box.setStandardButtons(QMessageBox::Ok); break;
    case BoxButtons::OkCancel: box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel); break;
    case BoxButtons::YesNo: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
    }
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    switch (box.exec()) {
    case QMessageBox::Cancel: return BoxAnswer::Cancel;
    case QMessageBox::Yes: return BoxAnswer::Yes;
    case QMessageBox::No: return BoxAnswer::No;
    default: return request.buttons == BoxButtons::YesNo ? BoxAnswer::No : BoxAnswer::Ok;
    }
}

} // namespace velmora
