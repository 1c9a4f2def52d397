// The help window: every way into it must land on a page that exists, at an
// anchor that exists, and every link and picture inside the pages must resolve.
#include "app/HelpWindow.h"

#include "Resources.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QListWidget>
#include <QSet>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace velmora;

namespace {

struct Page {
    QStringList Anchors;
    QList<QUrl> Links;
    QList<QUrl> Images;
};

// Reads a page the way the help window's browser sees it.
Page ParsePage(const QUrl &url)
{
    QFile file(QLatin1Char(':') + url.path());
    Page page;
    if (!file.open(QIODevice::ReadOnly))
        return page;
    QTextDocument doc;
    doc.setHtml(QString::fromUtf8(file.readAll()));
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            page.Anchors += format.anchorNames();
            if (format.isAnchor() && !format.anchorHref().isEmpty())
                page.Links.append(url.resolved(QUrl(format.anchorHref())));
            if (format.isImageFormat())
                page.Images.append(url.resolved(QUrl(format.toImageFormat().name())));
        }
    }
    return page;
}

// Empty when `url` names an existing help page (and anchor, if any); else why not.
QString CheckTarget(const QUrl &url)
{
    if (url.scheme() != QLatin1String("qrc"))
        return "not a help page: " + url.toString();
    if (!QFile::exists(QLatin1Char(':') + url.path()))
        return "missing page: " + url.toString();
    if (url.hasFragment() && !ParsePage(url).Anchors.contains(url.fragment()))
        return "missing anchor: " + url.toString();
    return {};
}

QStringList HelpPages()
{
    InitResources();
    return QDir(QString::fromLatin1(HelpFolder)).entryList({"*.html"}, QDir::Files);
}

int OpenHelpWindows()
{
    int count = 0;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (qobject_cast<THelpWindow *>(w))
            ++count;
    return count;
}

} // namespace

TEST(HelpWindow, EveryContextNumberOpensAnExistingPageAndAnchor)
{
    // The numbers the console's windows pass in.
    const QList<int> used = {14, 17, 25, 26, 27, 28, 31, 32, 33, 34, 40, 55, 56, 57, 58, 59,
                             60, 61, 123, 126};
    for (int context : used) {
        SCOPED_TRACE(context);
        EXPECT_TRUE(THelpWindow::KnownContexts().contains(context));
        THelpWindow::ShowHelpContext(context);
        THelpWindow *w = THelpWindow::Instance();
        EXPECT_TRUE(w->isVisible());
        const QUrl shown = w->CurrentPage();
        EXPECT_EQ(CheckTarget(shown).toStdString(), "");
        EXPECT_FALSE(w->HelpBrowser->document()->isEmpty());
        if (context != THelpWindow::KeywordSearchContext) {
            EXPECT_EQ(shown, THelpWindow::PageUrl(THelpWindow::PageForContext(context)));
        }
    }
    EXPECT_EQ(OpenHelpWindows(), 1);

    // A number nobody gave a page still opens something useful.
    THelpWindow::ShowHelpContext(9999);
    EXPECT_EQ(THelpWindow::Instance()->CurrentPage(), THelpWindow::PageUrl("index.html"));
}

TEST(HelpWindow, MenuEntriesOpenTheirPagesInOneWindow)
{
    THelpWindow::ShowHelpOnHelp();
    THelpWindow *w = THelpWindow::Instance();
    EXPECT_EQ(w->CurrentPage(), THelpWindow::PageUrl("help-on-help.html"));

    THelpWindow::ShowKeywordSearch();
    EXPECT_EQ(w->NavigationTabs->currentIndex(), 1);
    EXPECT_EQ(w->CurrentPage(), THelpWindow::PageUrl("help-on-help.html")); // page kept

    w->close();
    THelpWindow::ShowContents();
    EXPECT_EQ(THelpWindow::Instance(), w);
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(w->NavigationTabs->currentIndex(), 0);
    EXPECT_EQ(w->CurrentPage(), THelpWindow::PageUrl("index.html"));
    EXPECT_EQ(OpenHelpWindows(), 1);
    EXPECT_FALSE(w->testAttribute(Qt::WA_QuitOnClose)); // never keeps the console alive
}

TEST(HelpWindow, EveryLinkPictureAndKeywordResolves)
{
    const QStringList pages = HelpPages();
    ASSERT_GE(pages.size(), 10);
    QSet<QString> linkedPages;
    for (const QString &name : pages) {
        SCOPED_TRACE(name.toStdString());
        const QUrl url = THelpWindow::PageUrl(name);
        const Page page = ParsePage(url);
        for (const QUrl &link : page.Links) {
            EXPECT_EQ(CheckTarget(link).toStdString(), "");
            linkedPages.insert(link.adjusted(QUrl::RemoveFragment).fileName());
        }
        for (const QUrl &image : page.Images)
            EXPECT_FALSE(QImage(QLatin1Char(':') + image.path()).isNull()) << image.toString().toStdString();
    }
    // No page is an orphan that only a direct context number could reach.
    for (const QString &name : pages) {
        if (name != QLatin1String("index.html")) {
            EXPECT_TRUE(linkedPages.contains(name)) << name.toStdString();
        }
    }

    const QList<THelpWindow::Keyword> keywords = THelpWindow::LoadKeywords();
    ASSERT_GE(keywords.size(), 40);
    for (const THelpWindow::Keyword &k : keywords)
        EXPECT_EQ(CheckTarget(THelpWindow::PageUrl(k.Target)).toStdString(), "") << k.Word.toStdString();

    const QList<THelpWindow::Keyword> topics = THelpWindow::LoadContents();
    EXPECT_EQ(topics.size(), pages.size() - 1); // every page but the contents itself
    THelpWindow *w = THelpWindow::Instance();
    EXPECT_EQ(w->ContentsList->count(), topics.size());
}

TEST(HelpWindow, KeywordSearchFiltersAndOpensTheTopic)
{
    THelpWindow::ShowKeywordSearch();
    THelpWindow *w = THelpWindow::Instance();
    ASSERT_EQ(w->NavigationTabs->currentIndex(), 1);

    w->KeywordEdit->setText("TRANSCR"); // letter case does not matter
    EXPECT_EQ(w->VisibleKeywords(), QStringList{"Transcripts"});
    EXPECT_TRUE(w->OpenSelectedKeyword());
    EXPECT_EQ(w->CurrentPage(), THelpWindow::PageUrl("transcripts.html"));

    // Enter in the box opens the first match of a part-word.
    w->KeywordEdit->setText("tray");
    EXPECT_TRUE(w->VisibleKeywords().contains("Tray icon"));
    emit w->KeywordEdit->returnPressed();
    EXPECT_EQ(w->CurrentPage().fileName(), "main-window.html");

    const QUrl before = w->CurrentPage();
    w->KeywordEdit->setText("zzz-no-such-word");
    EXPECT_TRUE(w->VisibleKeywords().isEmpty());
    EXPECT_FALSE(w->OpenSelectedKeyword());
    EXPECT_EQ(w->CurrentPage(), before);

    w->KeywordEdit->clear();
    EXPECT_EQ(w->VisibleKeywords().size(), THelpWindow::LoadKeywords().size());
}

TEST(HelpWindow, BackForwardAndHomeFollowTheOperator)
{
    THelpWindow::ShowContents();
    THelpWindow *w = THelpWindow::Instance();
    w->OpenPage("call-list.html");
    w->OpenPage("chat-window.html#transfer");

    w->BackBtn->click();
    EXPECT_EQ(w->CurrentPage(), THelpWindow::PageUrl("call-list.html"));
    EXPECT_TRUE(w->ForwardBtn->isEnabled());
    w->ForwardBtn->click();
    EXPECT_EQ(w->CurrentPage(), THelpWindow::PageUrl("chat-window.html#transfer"));
    w->HomeBtn->click();
    EXPECT_EQ(w->CurrentPage(), THelpWindow::PageUrl("index.html"));
    EXPECT_TRUE(w->BackBtn->isEnabled());
}
