#pragma once
// Every modal message box of the console goes through this one seam, so the
// logic never talks to QMessageBox directly and tests can record and answer.
#include <QList>
#include <QString>

class QWidget;

namespace velmora {

enum class BoxIcon { None, Information, Warning, Error, Question };
enum class BoxButtons { Ok, OkCancel, YesNo };
enum class BoxAnswer { Ok, Cancel, Yes, No };

struct BoxRequest {
    QString text;
    QString caption;
    BoxIcon icon = BoxIcon::None;
    BoxButtons buttons = BoxButtons::Ok;
    // The window the box belongs to (a chat window): the box is modal to it
    // alone, so the other windows stay usable. None: modal to the application.
    QWidget *owner = nullptr;
    // The second button (Cancel, No) is the default: a question whose "yes"
    // removes or ends something is never answered by a stray Enter or Space.
    bool safeDefault = false;
};

// One row of the online-supporters choice.
struct SupporterRow {
    QString name;
    qint32 port = 0;
};

class IBoxes {
public:
    // The online-supporters choice: the index of the chosen row, or -1 for
    // Cancel. By default nothing is chosen, so nothing ever blocks. The
    // caption says what the choice is for.
    virtual int ChooseSupporter(const QList<SupporterRow> & /*rows*/, const QString & /*caption*/) { return -1; }
    virtual ~IBoxes() = default;
    virtual BoxAnswer Show(const BoxRequest &request) = 0;
    // A box with only OK whose answer nobody waits for: it shows and the
    // caller goes on at once. By default it is shown like any other box.
    virtual void Notify(const BoxRequest &request) { Show(request); }
};

// The installed implementation; without one, boxes are written to stderr and
// answered with their first button (OK or Yes), so nothing ever blocks.
IBoxes &Boxes();
// Installs `boxes` (not owned); nullptr restores the default.
void SetBoxes(IBoxes *boxes);
// While on, nobody is there to answer (the desktop session is ending): every
// box is written to stderr and answered with its first button, as without an
// installed implementation, and no choice is made.
void SetBoxesUnattended(bool unattended);

BoxAnswer ShowBox(const QString &text, const QString &caption,
                  BoxIcon icon = BoxIcon::None, BoxButtons buttons = BoxButtons::Ok,
                  QWidget *owner = nullptr);
// The same with Cancel or No as the default (see BoxRequest::safeDefault).
BoxAnswer ConfirmBox(const QString &text, const QString &caption, BoxIcon icon, BoxButtons buttons,
                     QWidget *owner = nullptr);
// A warning that must never hold up the caller (see IBoxes::Notify).
void ShowNotice(const QString &text, const QString &caption, BoxIcon icon = BoxIcon::None);

// Runs the online-supporters choice (see IBoxes::ChooseSupporter).
int ChooseOnlineSupporter(const QList<SupporterRow> &rows, const QString &caption);

} // namespace velmora
