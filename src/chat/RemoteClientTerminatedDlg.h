#pragma once
// Tells the operator that the caller has left (or the connection was lost)
// and asks whether to close the chat window. Esc closes it.
#include <QDialog>

class QLabel;
class QPushButton;

namespace velmora {

class TRemoteClientTerminatedDlg : public QDialog {
    Q_OBJECT
public:
    // `chatWindow` places the dialog; `number` is the chat window's number.
    TRemoteClientTerminatedDlg(QWidget *chatWindow, int number);

    // True when the operator chose "Close this chat window".
    bool CloseChosen() const { return m_closeChosen; }

    // Where the dialog opens: 10 px right of and 120 px below the chat
    // window's top-left corner while it is showing, else centred on the screen.
    static QPoint Placement(const QWidget *chatWindow, const QSize &dialogSize);

    QPushButton *LeaveBtn = nullptr;
    QPushButton *CloseBtn = nullptr;

protected:
    void showEvent(QShowEvent *event) override;
    void reject() override;

private:
    QWidget *m_chatWindow;
    bool m_closeChosen = false;
};

} // namespace velmora
