#pragma once
// Editor of one shortcut list: add, rename, change and remove shortcuts.
#include "shortcuts/Canneddata.h"

#include <QDialog>

class QComboBox;
class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace velmora {

class TEditCannedMsgsDlg : public QDialog {
    Q_OBJECT
public:
    using Mode = ShortcutMode;

    TEditCannedMsgsDlg(QWidget *parent, Mode mode, TTitleDataClass &list);

    // Runs the editor modally, then saves the list to its file.
    static void EditShortcuts(QWidget *parent, Mode mode, TTitleDataClass &list);

    int CurrentPosition() const { return m_current; }
    int HelpContext() const;

    // Handlers, public so the dialog can be driven without a screen.
    void AddBtnClick();
    void RemoveBtnClick();
    void UpdateBtnClick();
    void CancelBtnClick();
    void CloseBtnClick();
    // The title field changed: typed text, or another entry picked.
    void TitleEditChange();
    // A key typed in a field, or any change of the message text.
    void FieldEdited();

    QGroupBox *TitleGroup = nullptr;
    QGroupBox *MessageGroup = nullptr;
    QComboBox *TitleEdit = nullptr;
    QPlainTextEdit *MessageEdit = nullptr;
    // Canned answers only: the placeholders, and the answer as a sample visitor would get it.
    QLabel *PlaceholdersLabel = nullptr;
    QLabel *PreviewLabel = nullptr;
    QPushButton *AddBtn = nullptr;
    QPushButton *RemoveBtn = nullptr;
    QPushButton *UpdateBtn = nullptr;
    QPushButton *CancelBtn = nullptr;
    QPushButton *CloseBtn = nullptr;

    void setVisible(bool visible) override;

public slots:
    // Esc and the window's close button act as "Close".
    void reject() override;

private:
    void FormShow();
    void ShowRecord();
    void SetFieldsEnabled(bool enabled);
    void SetModified(bool modified);
    // False when the operator declined to store characters the file cannot hold.
    bool StoreFields();
    void MarkUncarried();
    void ShowPreview();
    QString MessageText() const;

    Mode m_mode;
    TTitleDataClass &m_list;
    int m_current = 0;
    bool m_filling = false; // our own changes to the fields are not edits
};

} // namespace velmora
