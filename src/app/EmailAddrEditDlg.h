#pragma once
// The small editor with which the operator corrects a caller's e-mail address
// from the call list.
#include <QDialog>

class QLineEdit;
class QPushButton;

namespace velmora {

class TEmailAddrEditDlg : public QDialog {
    Q_OBJECT
public:
    explicit TEmailAddrEditDlg(const QString &email, QWidget *parent = nullptr);

    // Runs the editor modally and returns the edit box's text, whichever
    // button closed it: an operator who corrected the address and then
    // pressed Cancel still expects the correction to stick.
    static QString Edit(const QString &email, QWidget *parent = nullptr);

    QString Text() const;

    QLineEdit *EmailEditText = nullptr;
    QPushButton *OKBtn = nullptr;
    QPushButton *CancelBtn = nullptr;
};

} // namespace velmora
