#include "HelpWindow.h"

#include "Resources.h"

#include <QApplication>
#include <QFile>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QShortcut>
#include <QSplitter>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QToolButton>
#include <QVBoxLayout>

namespace velmora {

namespace {

QPointer<THelpWindow> TheWindow;

const QString ContentsPage = QStringLiteral("index.html");
const QString HelpOnHelpPage = QStringLiteral("help-on-help.html");

struct ContextPage {
    int Context;
    const char *Target;
};

constexpr ContextPage ContextPages[] = {
    {THelpWindow::CallListContext, "call-list.html"},
    {THelpWindow::SetupContext, "settings.html"},
    {THelpWindow::LoadConfigContext, "config-files.html#load"},
    {THelpWindow::SaveConfigAsContext, "config-files.html#save-as"},
    {THelpWindow::ExitContext, "main-window.html#exit"},
    {THelpWindow::ClearHistoryContext, "config-files.html#history"},
    {THelpWindow::HelpOnHelpContext, "help-on-help.html"},
    {THelpWindow::ContentsContext, "index.html"},
    {THelpWindow::KeywordSearchContext, "help-on-help.html#index"},
    {THelpWindow::AboutContext, "main-window.html#help-menu"},
    {THelpWindow::KeyboardContext, "keyboard.html"},
    {THelpWindow::ChatWindowContext, "chat-window.html"},
    {THelpWindow::SupportSetupContext, "settings.html#support"},
    {THelpWindow::WebSetupContext, "settings.html#web"},
    {THelpWindow::ColorsSetupContext, "settings.html#colors"},
    {THelpWindow::GeneralSetupContext, "settings.html#general"},
    {THelpWindow::SoundSetupContext, "settings.html#sound"},
    {THelpWindow::MailSetupContext, "settings.html#mail"},
    {THelpWindow::ReconnectSetupContext, "settings.html#reconnect"},
    {THelpWindow::TeamArchiveSetupContext, "settings.html#team-archive"},
    {THelpWindow::CannedEditorContext, "shortcuts.html#canned"},
    {THelpWindow::UrlEditorContext, "shortcuts.html#urls"},
    {THelpWindow::MyFiguresContext, "my-figures.html"},
};

const char *const PageStyle =
    "body { font-size: 10pt; }"
    "h1 { color: #1a5fb4; font-size: 16pt; }"
    "h2 { color: #1a5fb4; font-size: 12pt; margin-top: 14px; }"
    "h3 { font-size: 10pt; }"
    "th { background-color: #e6f0fb; }"
    "tt { color: #37414b; }";

QString ReadHelpText(const QString &name)
{
    InitResources();
    QFile file(QString::fromLatin1(HelpFolder) + name);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

} // namespace

THelpWindow *THelpWindow::Instance()
{
    if (!TheWindow) {
        TheWindow = new THelpWindow;
        // Leaving the window open must not keep a closing console alive.
        if (QCoreApplication *app = QCoreApplication::instance())
            QObject::connect(app, &QCoreApplication::aboutToQuit, TheWindow.data(),
                             &QObject::deleteLater);
    }
    return TheWindow;
}

void THelpWindow::ShowContents()
{
    THelpWindow *w = Instance();
    w->NavigationTabs->setCurrentIndex(0);
    w->OpenPage(ContentsPage);
    w->ShowAndRaise();
}

void THelpWindow::ShowKeywordSearch()
{
    THelpWindow *w = Instance();
    if (w->CurrentPage().isEmpty())
        w->OpenPage(ContentsPage);
    w->ShowAndRaise();
    w->ShowIndexTab();
}

void THelpWindow::ShowHelpOnHelp()
{
    THelpWindow *w = Instance();
    w->OpenPage(HelpOnHelpPage);
    w->ShowAndRaise();
}

void THelpWindow::ShowHelpContext(int context)
{
    switch (context) {
    case ContentsContext:
        ShowContents();
        return;
    case KeywordSearchContext:
        ShowKeywordSearch();
        return;
    default:
        break;
    }
    THelpWindow *w = Instance();
    w->OpenPage(PageForContext(context));
    w->ShowAndRaise();
}

QString THelpWindow::PageForContext(int context)
{
    for (const ContextPage &entry : ContextPages) {
        if (entry.Context == context)
            return QString::fromLatin1(entry.Target);
    }
    return ContentsPage;
}

QList<int> THelpWindow::KnownContexts()
{
    QList<int> contexts;
    for (const ContextPage &entry : ContextPages)
        contexts.append(entry.Context);
    return contexts;
}

QList<THelpWindow::Keyword> THelpWindow::LoadKeywords()
{
    QList<Keyword> keywords;
    const QStringList lines = ReadHelpText(QStringLiteral("keywords.txt")).split(QLatin1Char('\n'));
    for (const QString &raw : lines) {
        const QString line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const qsizetype tab = line.indexOf(QLatin1Char('\t'));
        if (tab <= 0)
            continue;
        const QString word = line.left(tab).trimmed();
        const QString target = line.mid(tab + 1).trimmed();
        if (!word.isEmpty() && !target.isEmpty())
            keywords.append({word, target});
    }
    return keywords;
}

QList<THelpWindow::Keyword> THelpWindow::LoadContents()
{
    // The contents page is the one list of topics; the navigation pane follows it.
    QTextDocument doc;
    doc.setHtml(ReadHelpText(ContentsPage));
    QList<Keyword> topics;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const QTextCharFormat format = fragment.charFormat();
            if (!format.isAnchor())
                continue;
            const QString href = format.anchorHref();
            if (href.isEmpty() || href.contains(QLatin1Char(':')))
                continue;
            topics.append({fragment.text().trimmed(), href});
            break; // one topic per line of the list
        }
    }
    return topics;
}

QUrl THelpWindow::PageUrl(const QString &target)
{
    return QUrl(QStringLiteral("qrc") + QString::fromLatin1(HelpFolder) + target);
}

THelpWindow::THelpWindow()
{
    InitResources();
    setAttribute(Qt::WA_QuitOnClose, false);
    setProperty("helpContext", int(HelpOnHelpContext)); // F1 here: how to use help
    setWindowTitle(tr("Velmora Help"));
    setWindowIcon(AppIcon());
    resize(820, 560);

    BackBtn = new QToolButton(this);
    BackBtn->setText(tr("Back"));
    BackBtn->setToolTip(tr("Back (Alt+Left)"));
    BackBtn->setEnabled(false);
    ForwardBtn = new QToolButton(this);
    ForwardBtn->setText(tr("Forward"));
    ForwardBtn->setToolTip(tr("Forward (Alt+Right)"));
    ForwardBtn->setEnabled(false);
    HomeBtn = new QToolButton(this);
    HomeBtn->setText(tr("Contents"));
    HomeBtn->setToolTip(tr("Contents (Alt+Home)"));

    auto *bar = new QHBoxLayout;
    bar->addWidget(BackBtn);
    bar->addWidget(ForwardBtn);
    bar->addWidget(HomeBtn);
    bar->addStretch(1);

    ContentsList = new QListWidget;
    for (const Keyword &topic : LoadContents()) {
        auto *item = new QListWidgetItem(topic.Word, ContentsList);
        item->setData(Qt::UserRole, topic.Target);
    }

    auto *indexPane = new QWidget;
    KeywordEdit = new QLineEdit;
    KeywordEdit->setPlaceholderText(tr("Type a keyword"));
    KeywordEdit->setClearButtonEnabled(true);
    KeywordEdit->installEventFilter(this);
    KeywordList = new QListWidget;
    for (const Keyword &keyword : LoadKeywords()) {
        auto *item = new QListWidgetItem(keyword.Word, KeywordList);
        item->setData(Qt::UserRole, keyword.Target);
    }
    auto *indexLayout = new QVBoxLayout(indexPane);
    indexLayout->setContentsMargins(0, 0, 0, 0);
    indexLayout->addWidget(new QLabel(tr("Type the word you are looking for:")));
    indexLayout->addWidget(KeywordEdit);
    indexLayout->addWidget(KeywordList, 1);

    NavigationTabs = new QTabWidget;
    NavigationTabs->addTab(ContentsList, tr("Contents"));
    NavigationTabs->addTab(indexPane, tr("Index"));

    HelpBrowser = new QTextBrowser;
    HelpBrowser->setOpenExternalLinks(true);
    HelpBrowser->document()->setDefaultStyleSheet(QString::fromLatin1(PageStyle));

    auto *splitter = new QSplitter;
    splitter->addWidget(NavigationTabs);
    splitter->addWidget(HelpBrowser);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({230, 590});

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(splitter, 1);

    connect(BackBtn, &QToolButton::clicked, HelpBrowser, &QTextBrowser::backward);
    connect(ForwardBtn, &QToolButton::clicked, HelpBrowser, &QTextBrowser::forward);
    connect(HomeBtn, &QToolButton::clicked, this, [this] { OpenPage(ContentsPage); });
    connect(HelpBrowser, &QTextBrowser::backwardAvailable, BackBtn, &QToolButton::setEnabled);
    connect(HelpBrowser, &QTextBrowser::forwardAvailable, ForwardBtn, &QToolButton::setEnabled);
    connect(ContentsList, &QListWidget::itemActivated, this, [this](QListWidgetItem *item) {
        OpenPage(item->data(Qt::UserRole).toString());
    });
    connect(ContentsList, &QListWidget::itemClicked, this, [this](QListWidgetItem *item) {
        OpenPage(item->data(Qt::UserRole).toString());
    });
    // Keep the topic being read marked in the contents, however it was reached.
    connect(HelpBrowser, &QTextBrowser::sourceChanged, this, [this](const QUrl &url) {
        const QString page = url.adjusted(QUrl::RemoveFragment).fileName();
        ContentsList->setCurrentItem(nullptr);
        for (int i = 0; i < ContentsList->count(); ++i) {
            if (ContentsList->item(i)->data(Qt::UserRole).toString() == page)
                ContentsList->setCurrentRow(i);
        }
    });
    connect(KeywordEdit, &QLineEdit::textChanged, this, &THelpWindow::FilterKeywords);
    connect(KeywordEdit, &QLineEdit::returnPressed, this, &THelpWindow::OpenSelectedKeyword);
    connect(KeywordList, &QListWidget::itemActivated, this, &THelpWindow::KeywordActivated);

    new QShortcut(QKeySequence::Back, this, HelpBrowser, &QTextBrowser::backward);
    new QShortcut(QKeySequence::Forward, this, HelpBrowser, &QTextBrowser::forward);
    new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Home), this, this,
                  [this] { OpenPage(ContentsPage); });
    new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_K), this, this, [this] { ShowIndexTab(); });
    new QShortcut(QKeySequence(Qt::Key_Escape), this, this, &QWidget::close);
}

void THelpWindow::OpenPage(const QString &target)
{
    const QUrl url = PageUrl(target);
    if (url == HelpBrowser->source()) {
        // Asked again for the page shown: go back to where it was asked for.
        if (url.hasFragment())
            HelpBrowser->scrollToAnchor(url.fragment());
        else
            HelpBrowser->moveCursor(QTextCursor::Start);
        return;
    }
    HelpBrowser->setSource(url);
    // setSource() skips the jump when only the anchor differs from the page shown.
    if (url.hasFragment())
        HelpBrowser->scrollToAnchor(url.fragment());
}

QUrl THelpWindow::CurrentPage() const
{
    return HelpBrowser->source();
}

void THelpWindow::FilterKeywords(const QString &text)
{
    const QString wanted = text.trimmed();
    QListWidgetItem *first = nullptr;
    for (int i = 0; i < KeywordList->count(); ++i) {
        QListWidgetItem *item = KeywordList->item(i);
        const bool shown = wanted.isEmpty() || item->text().contains(wanted, Qt::CaseInsensitive);
        item->setHidden(!shown);
        if (shown && !first)
            first = item;
    }
    KeywordList->setCurrentItem(first);
    if (first)
        KeywordList->scrollToItem(first);
}

QStringList THelpWindow::VisibleKeywords() const
{
    QStringList words;
    for (int i = 0; i < KeywordList->count(); ++i) {
        if (!KeywordList->item(i)->isHidden())
            words.append(KeywordList->item(i)->text());
    }
    return words;
}

bool THelpWindow::OpenSelectedKeyword()
{
    QListWidgetItem *item = KeywordList->currentItem();
    if (item && item->isHidden())
        item = nullptr;
    for (int i = 0; !item && i < KeywordList->count(); ++i) {
        if (!KeywordList->item(i)->isHidden())
            item = KeywordList->item(i);
    }
    if (!item)
        return false;
    KeywordActivated(item);
    return true;
}

void THelpWindow::KeywordActivated(QListWidgetItem *item)
{
    if (item)
        OpenPage(item->data(Qt::UserRole).toString());
}

bool THelpWindow::eventFilter(QObject *watched, QEvent *event)
{
    // Up and Down in the keyword box walk the list, so the hand stays on the keyboard.
    if (watched == KeywordEdit && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            int row = KeywordList->currentRow();
            const int step = key == Qt::Key_Down ? 1 : -1;
            for (int next = row + step; next >= 0 && next < KeywordList->count(); next += step) {
                if (!KeywordList->item(next)->isHidden()) {
                    KeywordList->setCurrentRow(next);
                    break;
                }
            }
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void THelpWindow::ShowAndRaise()
{
    if (isMinimized())
        showNormal();
    else
        show();
    raise();
    activateWindow();
}

void THelpWindow::ShowIndexTab()
{
    NavigationTabs->setCurrentIndex(1);
    KeywordEdit->setFocus();
    KeywordEdit->selectAll();
}

} // namespace velmora
