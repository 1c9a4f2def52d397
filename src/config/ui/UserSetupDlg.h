#pragma once
// The settings dialog: seven pages, each applied on its own into the settings
// record and the settings store. A page with unapplied changes cannot be left.
// What a change means for the running console (timer periods, indicators,
// the idle time) is the host's business.
#include "config/Settings.h"

#include <QDialog>

class QLabel;
class QPushButton;
class QTabWidget;

namespace velmora {

class TProgramConfig;
class TSetupPage;

class ISetupHost {
public:
    virtual ~ISetupHost() = default;
    // The page's values are in the settings record and the store.
    virtual void SettingsPageApplied(SettingsPage) {}
    virtual void ShowHelp(int /*context*/) {}
};

class TUserSetupDlg : public QDialog {
    Q_OBJECT
public:
    TUserSetupDlg(TProgramConfig &store, ISetupHost &host, QWidget *parent = nullptr);

    // How the dialog opens: on its first page, or for a console that has no
    // settings file yet (see ShowFirstStart).
    enum class Start { Normal, FirstStart };

    // Creates, shows modally and destroys the dialog.
    static void Execute(TProgramConfig &store, ISetupHost &host, QWidget *parent, Start start = Start::Normal);

    // Shows the Web and IP page with a line above the pages that says what a
    // connection needs.
    void ShowFirstStart();

    // Copies the page's settings into its controls; "Apply" goes off.
    void FillPage(int page);
    // Stores the page on view; false when a field stopped it ("Apply" stays on).
    bool ApplyPage();
    // The operator's wish to see another page; refused with a box while the
    // page on view has unapplied changes.
    bool ShowPage(int page);

    int CurrentPage() const;
    int PageCount() const;
    TSetupPage *Page(int index) const;
    template <class T> T *PageOf() const
    {
        for (int i = 0; i < PageCount(); ++i)
            if (auto *p = qobject_cast<T *>(Page(i)))
                return p;
        return nullptr;
    }
    int HelpContext() const { return m_helpContext; }

    QPushButton *OkBtn;
    QPushButton *CancelBtn;
    QPushButton *ApplyBtn;
    QTabWidget *PageControl;
    QLabel *NoteLbl; // hidden unless the dialog has something to say first

    void OkBtnClick();
    void CancelBtnClick();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void TabChanged(int index);

    TProgramConfig &m_store;
    ISetupHost &m_host;
    int m_shownPage = 0;
    int m_helpContext = 0;
};

} // namespace velmora
