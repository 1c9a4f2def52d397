#pragma once
// The small editor with which the operator corrects a caller's e-mail address
// from the call list.
#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace velmora {

class TEmailAddrEditDlg : public QDialog {
    Q_OBJECT
public:
    explicit TEmailAddrEditDlg(const QString &email, QWidget *parent = nullptr);

    // Runs the editor modally: OK gives the edit box's text; Cancel, Esc and
    // the close box give `email` back unchanged.
    static QString Edit(const QString &email, QWidget *parent = nullptr);

    QString Text() const;
    // Shown while the text is not an e-mail address; OK still keeps it.
    bool WarningShown() const;

    QLineEdit *EmailEditText = nullptr;
    QPushButton *OKBtn = nullptr;
    QPushButton *CancelBtn = nullptr;
    QLabel *NotAnAddressLabel = nullptr;

private:
    void CheckAddress();
};

} // namespace velmora
