#pragma once
// The console's help: our own HTML pages in one help window per program.
#include "diag/HelpContexts.h"

#include <QList>
#include <QString>
#include <QUrl>
#include <QWidget>

class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QTabWidget;
class QTextBrowser;
class QToolButton;

namespace velmora {

class THelpWindow : public QWidget
{
    Q_OBJECT
public:
    // Help context numbers the windows of the console pass in.
    using enum HelpContext;

    struct Keyword {
        QString Word;
        QString Target; // "page.html" or "page.html#anchor"
    };

    // The one help window, created on first use; it is not shown by this call.
    static THelpWindow *Instance();

    // The three entries of the Help menu and the context help of other windows;
    // each shows the window and brings it to the front.
    static void ShowContents();
    static void ShowKeywordSearch();
    static void ShowHelpOnHelp();
    static void ShowHelpContext(int context);

    // "page.html#anchor" for a context number; the contents page for a number
    // we have no page for, so a help request never ends on an empty window.
    static QString PageForContext(int context);
    // Every context number that has a page of its own.
    static QList<int> KnownContexts();

    // The keyword index, as shipped with the pages.
    static QList<Keyword> LoadKeywords();
    // The topics of the contents page, in its order, as (title, "page.html").
    static QList<Keyword> LoadContents();

    static QUrl PageUrl(const QString &target);

    void OpenPage(const QString &target);
    QUrl CurrentPage() const;

    // Shows the keywords containing `text` (any letter case) and selects the first.
    void FilterKeywords(const QString &text);
    QStringList VisibleKeywords() const;
    // Opens the selected keyword's topic (the first shown one when none is
    // selected); false when no keyword is shown.
    bool OpenSelectedKeyword();

    QTextBrowser *HelpBrowser = nullptr;
    QTabWidget *NavigationTabs = nullptr;
    QListWidget *ContentsList = nullptr;
    QLineEdit *KeywordEdit = nullptr;
    QListWidget *KeywordList = nullptr;
    QToolButton *BackBtn = nullptr;
    QToolButton *ForwardBtn = nullptr;
    QToolButton *HomeBtn = nullptr;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    THelpWindow();
    void ShowAndRaise();
    void ShowIndexTab();
    void KeywordActivated(QListWidgetItem *item);
};

} // namespace velmora
