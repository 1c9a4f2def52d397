#pragma once
// Picks one shortcut during a chat: a canned answer for the input box, or a
// URL (from the list or typed) to push to the visitor's browser.
#include "shortcuts/Canneddata.h"

#include <QDialog>

class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace velmora {

class TShortcutDispDlg : public QDialog {
    Q_OBJECT
public:
    using Mode = ShortcutMode;
    enum class EntrySource { List, Typed };

    TShortcutDispDlg(QWidget *owner, Mode mode, const QString &col1, const QString &col2,
                     const TTitleDataClass &list);

    // Shows the dialog modally and on top; empty when nothing was chosen.
    static QString Choose(QWidget *owner, Mode mode, const QString &col1, const QString &col2,
                          const TTitleDataClass &list);

    QString Result() const { return m_result; }
    EntrySource Source() const { return m_source; }

    // Handlers, public so the dialog can be driven without a screen.
    void ShortcutsListBoxClick();
    void URL_FileLinkClick();
    void SelectBtnClick();
    void CancelBtnClick();

    QTreeWidget *ShortcutsListBox = nullptr;
    QLineEdit *URL_FileLink = nullptr; // URL mode only
    QPushButton *SelectBtn = nullptr;
    QPushButton *CancelBtn = nullptr;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void FillList();
    void PlaceControls();

    Mode m_mode;
    const TTitleDataClass &m_list;
    EntrySource m_source = EntrySource::List;
    bool m_linkTouched = false; // the initial text goes with the first visit
    QString m_result;
};

} // namespace velmora
