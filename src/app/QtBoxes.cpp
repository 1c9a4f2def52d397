#include "app/QtBoxes.h"

#include "chat/OnlineSupportersDlg.h"
#include "chat/QuietShow.h"

#include <QApplication>
#include <QHash>
#include <QMessageBox>
#include <QPointer>

namespace velmora {

namespace {

// A box stands over the active window only when that window can be seen: one
// parented to a hidden or minimized window would be hidden with it, and
// nobody could ever answer it.
QWidget *VisibleParent()
{
    QWidget *active = QApplication::activeWindow();
    if (!active || !active->isVisible() || active->isMinimized())
        return nullptr;
    return active;
}

// The window a box of `owner` stands over: the owner's own window while it
// can be seen, otherwise none (the box then blocks nothing).
QWidget *VisibleOwner(QWidget *owner)
{
    QWidget *window = owner ? owner->window() : nullptr;
    if (!window || !window->isVisible() || window->isMinimized())
        return nullptr;
    return window;
}

void Fill(QMessageBox &box, const BoxRequest &request)
{
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
    if (request.safeDefault && request.buttons != BoxButtons::Ok)
        box.setDefaultButton(request.buttons == BoxButtons::YesNo ? QMessageBox::No : QMessageBox::Cancel);
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
}

} // namespace

BoxAnswer TQtBoxes::Show(const BoxRequest &request)
{
    // On the heap behind a guard: the window the box stands over may be
    // destroyed while the box waits (a chat taken down by a network error).
    QWidget *owner = request.owner ? VisibleOwner(request.owner) : VisibleParent();
    QPointer<QMessageBox> guard = new QMessageBox(owner);
    QMessageBox &box = *guard;
    Fill(box, request);
    if (request.owner) {
        // A chat's box blocks that chat only: the operator goes on in the
        // others, and one typing elsewhere keeps the keyboard.
        box.setWindowModality(Qt::WindowModal);
        if (QApplication::activeWindow() != owner)
            KeepKeyboardWhenShown(&box);
    }
    const int result = box.exec();
    if (!guard)
        return request.buttons == BoxButtons::YesNo ? BoxAnswer::No : BoxAnswer::Cancel;
    delete guard.data();
    switch (result) {
    case QMessageBox::Cancel: return BoxAnswer::Cancel;
    case QMessageBox::Yes: return BoxAnswer::Yes;
    case QMessageBox::No: return BoxAnswer::No;
    default: return request.buttons == BoxButtons::YesNo ? BoxAnswer::No : BoxAnswer::Ok;
    }
}

int TQtBoxes::ChooseSupporter(const QList<SupporterRow> &rows, const QString &caption)
{
    return TOnlineSupportersDlg::Choose(rows, caption);
}

void TQtBoxes::Notify(const BoxRequest &request)
{
    // One notice per caption: while one is up, a new one only updates its
    // text, so a desk left alone does not fill with windows.
    static QHash<QString, QPointer<QMessageBox>> open;
    if (QMessageBox *shown = open.value(request.caption)) {
        shown->setText(request.text);
        return;
    }
    // A window of its own: nothing it could be parented to may hide it.
    auto *box = new QMessageBox;
    Fill(*box, {request.text, request.caption, request.icon, BoxButtons::Ok});
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    open.insert(request.caption, box);
    // It tells, it does not ask: the keyboard stays where the operator types.
    KeepKeyboardWhenShown(box);
    box->show();
}

} // namespace velmora
