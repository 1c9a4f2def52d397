#include "archive/ui/PastChatsWindow.h"

#include "archive/ArchiveRecorder.h"
#include "chat/ChatLines.h"
#include "config/Settings.h"
#include "config/ui/SetupDialogs.h"
#include "diag/Boxes.h"
#include "richtext/HeaderLines.h"
#include "richtext/RtfWriter.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDateEdit>
#include <QFileInfo>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QSaveFile>
#include <QShortcut>
#include <QSplitter>
#include <QTextDocument>
#include <QTextDocumentWriter>
#include <QTextEdit>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <memory>

namespace velmora {
namespace {

enum Column { ColStarted, ColVisitor, ColEmail, ColSite, ColStatus, ColFound, ColCount };

QString When(qint64 ms)
{
    return QLocale::system().toString(QDateTime::fromMSecsSinceEpoch(ms), QLocale::ShortFormat);
}

} // namespace

QString SnippetMarkup(const QString &snippet)
{
    QString markup = snippet.toHtmlEscaped();
    markup.replace(kMarkOpen, QStringLiteral("<b style=\"background:#fff3a0\">"));
    markup.replace(kMarkClose, QStringLiteral("</b>"));
    return markup;
}

void RenderPastChat(QTextDocument &document, const std::vector<TArchiveLine> &lines)
{
    const TSettings &s = Settings();
    QTextCharFormat base;
    base.setFont(ConversationFont());
    document.setDefaultFont(ConversationFont());
    for (const TArchiveLine &line : lines) {
        QString text = line.Text;
        if (line.Kind == archive::LineKind::Image)
            text = QStringLiteral("[%1, %2 bytes] ").arg(line.ImageName).arg(line.ImageSize) + text;
        if (line.From == archive::Who::System) {
            AppendChatLine(document, text, kSystemGrey, 0, kSystemGrey, base, s.EmptyLineAdd);
            continue;
        }
        const bool own = line.From == archive::Who::Operator;
        const QString shown = line.Name + QStringLiteral(": ") + text;
        AppendChatLine(document, shown, ColorFromSetting(own ? s.SupportNameColor : s.UserNameColor),
                       int(line.Name.size()) + 1, ColorFromSetting(own ? s.SupportTextColor : s.UserTextColor), base,
                       s.EmptyLineAdd);
    }
}

TPastChatsWindow::TPastChatsWindow(TArchiveRecorder &archive, std::function<void(const TTranscriptSource &)> compose,
                                   QWidget *parent)
    : QDialog(parent), m_archive(archive), m_compose(std::move(compose))
{
    setWindowTitle(QStringLiteral("Past chats"));
    setObjectName(QStringLiteral("PastChatsWindow"));
    BuildControls();
    m_searchTimer.setSingleShot(true);
    m_searchTimer.setInterval(kSearchDelayMs);
    connect(&m_searchTimer, &QTimer::timeout, this, &TPastChatsWindow::SearchNow);
    resize(900, 560);
}

void TPastChatsWindow::BuildControls()
{
    SearchEdit = new QLineEdit(this);
    SearchEdit->setPlaceholderText(QStringLiteral("Words the visitor or you wrote, a name, an address"));
    SearchEdit->setClearButtonEnabled(true);
    VisitorEdit = new QLineEdit(this);
    SiteEdit = new QLineEdit(this);
    StatusBox = new QComboBox(this);
    DatesCheck = new QCheckBox(QStringLiteral("&Between"), this);
    FromDate = new QDateEdit(QDate::currentDate().addMonths(-1), this);
    ToDate = new QDateEdit(QDate::currentDate(), this);
    for (QDateEdit *date : {FromDate, ToDate}) {
        date->setCalendarPopup(true);
        date->setEnabled(false);
    }
    auto *searchLabel = new QLabel(QStringLiteral("&Search:"), this);
    searchLabel->setBuddy(SearchEdit);
    auto *visitorLabel = new QLabel(QStringLiteral("&Visitor:"), this);
    visitorLabel->setBuddy(VisitorEdit);
    auto *siteLabel = new QLabel(QStringLiteral("S&ite:"), this);
    siteLabel->setBuddy(SiteEdit);
    auto *statusLabel = new QLabel(QStringLiteral("Stat&us:"), this);
    statusLabel->setBuddy(StatusBox);

    auto *filters = new QGridLayout;
    filters->addWidget(searchLabel, 0, 0);
    filters->addWidget(SearchEdit, 0, 1, 1, 5);
    filters->addWidget(visitorLabel, 1, 0);
    filters->addWidget(VisitorEdit, 1, 1);
    filters->addWidget(siteLabel, 1, 2);
    filters->addWidget(SiteEdit, 1, 3);
    filters->addWidget(statusLabel, 1, 4);
    filters->addWidget(StatusBox, 1, 5);
    auto *dates = new QHBoxLayout;
    dates->addWidget(DatesCheck);
    dates->addWidget(FromDate);
    dates->addWidget(new QLabel(QStringLiteral("and"), this));
    dates->addWidget(ToDate);
    dates->addStretch(1);
    filters->addLayout(dates, 2, 1, 1, 5);

    Results = new QTreeWidget(this);
    Results->setObjectName(QStringLiteral("PastChatsResults"));
    Results->setColumnCount(ColCount);
    Results->setHeaderLabels({QStringLiteral("Started"), QStringLiteral("Visitor"), QStringLiteral("E-mail"),
                              QStringLiteral("Site"), QStringLiteral("Status"), QStringLiteral("Found")});
    Results->setRootIsDecorated(false);
    Results->setAllColumnsShowFocus(true);
    Results->setUniformRowHeights(true);
    Results->header()->setStretchLastSection(true);
    Results->setColumnWidth(ColStarted, 120);
    Results->setColumnWidth(ColVisitor, 100);
    Results->setColumnWidth(ColEmail, 150);
    Results->setColumnWidth(ColSite, 90);
    Results->setColumnWidth(ColStatus, 80);

    ChatView = new QTextEdit(this);
    ChatView->setObjectName(QStringLiteral("PastChatView"));
    ChatView->setReadOnly(true);
    ChatView->setAcceptRichText(false);
    ChatView->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
    InfoLabel = new QLabel(this);
    InfoLabel->setTextFormat(Qt::PlainText);
    InfoLabel->setWordWrap(true);

    auto *reading = new QWidget(this);
    auto *readingColumn = new QVBoxLayout(reading);
    readingColumn->setContentsMargins(0, 0, 0, 0);
    readingColumn->addWidget(InfoLabel);
    readingColumn->addWidget(ChatView, 1);
    auto *split = new QSplitter(Qt::Vertical, this);
    split->addWidget(Results);
    split->addWidget(reading);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 2);

    SendAgainBtn = new QPushButton(QStringLiteral("Send &transcript again"), this);
    SaveAsBtn = new QPushButton(QStringLiteral("Save &as..."), this);
    CopyBtn = new QPushButton(QStringLiteral("&Copy"), this);
    DeleteBtn = new QPushButton(QStringLiteral("&Delete this chat"), this);
    ForgetBtn = new QPushButton(QStringLiteral("&Forget this visitor"), this);
    auto *close = new QPushButton(QStringLiteral("Close"), this);
    auto *buttons = new QHBoxLayout;
    for (QPushButton *button : {SendAgainBtn, SaveAsBtn, CopyBtn, DeleteBtn, ForgetBtn}) {
        button->setAutoDefault(false);
        buttons->addWidget(button);
    }
    buttons->addStretch(1);
    close->setAutoDefault(false);
    buttons->addWidget(close);

    auto *column = new QVBoxLayout(this);
    column->addLayout(filters);
    column->addWidget(split, 1);
    column->addLayout(buttons);

    connect(SearchEdit, &QLineEdit::textChanged, this, &TPastChatsWindow::ScheduleSearch);
    connect(VisitorEdit, &QLineEdit::textChanged, this, &TPastChatsWindow::ScheduleSearch);
    connect(SiteEdit, &QLineEdit::textChanged, this, &TPastChatsWindow::ScheduleSearch);
    connect(StatusBox, &QComboBox::currentIndexChanged, this, &TPastChatsWindow::ScheduleSearch);
    connect(DatesCheck, &QCheckBox::toggled, this, [this](bool on) {
        FromDate->setEnabled(on);
        ToDate->setEnabled(on);
        ScheduleSearch();
    });
    connect(FromDate, &QDateEdit::dateChanged, this, &TPastChatsWindow::ScheduleSearch);
    connect(ToDate, &QDateEdit::dateChanged, this, &TPastChatsWindow::ScheduleSearch);
    // Enter in the search box goes to the results; Enter there opens one.
    connect(SearchEdit, &QLineEdit::returnPressed, this, [this] {
        SearchNow();
        Results->setFocus();
    });
    connect(Results, &QTreeWidget::currentItemChanged, this,
            [this] { OpenRow(Results->indexOfTopLevelItem(Results->currentItem())); });
    connect(SendAgainBtn, &QPushButton::clicked, this, &TPastChatsWindow::SendAgainClick);
    connect(SaveAsBtn, &QPushButton::clicked, this, &TPastChatsWindow::SaveAsClick);
    connect(CopyBtn, &QPushButton::clicked, this, &TPastChatsWindow::CopyClick);
    connect(DeleteBtn, &QPushButton::clicked, this, &TPastChatsWindow::DeleteChatClick);
    connect(ForgetBtn, &QPushButton::clicked, this, &TPastChatsWindow::ForgetVisitorClick);
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    auto *find = new QShortcut(QKeySequence::Find, this);
    connect(find, &QShortcut::activated, this, [this] {
        SearchEdit->setFocus();
        SearchEdit->selectAll();
    });
    UpdateButtons();
}

void TPastChatsWindow::ShowFor(const QString &visitor)
{
    // The statuses the archive has seen, for the filter.
    const QString kept = StatusBox->currentText();
    StatusBox->blockSignals(true);
    StatusBox->clear();
    StatusBox->addItem(QStringLiteral("Any"));
    if (TArchiveDb *reader = m_archive.Reader())
        StatusBox->addItems(reader->Statuses());
    StatusBox->setCurrentIndex(qMax(0, StatusBox->findText(kept)));
    StatusBox->blockSignals(false);
    VisitorEdit->setText(visitor);
    SearchNow();
    show();
    raise();
    activateWindow();
    SearchEdit->setFocus();
}

void TPastChatsWindow::ScheduleSearch()
{
    m_searchTimer.start();
}

void TPastChatsWindow::SearchNow()
{
    m_searchTimer.stop();
    TArchiveFilter filter;
    filter.Text = SearchEdit->text();
    filter.Visitor = VisitorEdit->text();
    filter.Site = SiteEdit->text();
    filter.Status = StatusBox->currentIndex() > 0 ? StatusBox->currentText() : QString();
    if (DatesCheck->isChecked()) {
        filter.From = FromDate->date();
        filter.To = ToDate->date();
    }
    TArchiveDb *reader = m_archive.Reader();
    m_hits = reader ? reader->Search(filter) : std::vector<TArchiveHit>{};
    Results->clear();
    for (const TArchiveHit &hit : m_hits) {
        auto *item = new QTreeWidgetItem(Results);
        item->setText(ColStarted, When(hit.Started));
        item->setText(ColVisitor, hit.Visitor);
        item->setText(ColEmail, hit.Email);
        item->setText(ColSite, hit.Site);
        item->setText(ColStatus, hit.Status);
        // The plain snippet for the keyboard's type-ahead and screen readers,
        // the highlighted one on screen.
        item->setData(ColFound, Qt::AccessibleTextRole, ArchiveText(hit.Snippet));
        auto *found = new QLabel(SnippetMarkup(hit.Snippet));
        found->setTextFormat(Qt::RichText);
        found->setTextInteractionFlags(Qt::NoTextInteraction);
        Results->setItemWidget(item, ColFound, found);
    }
    if (!reader)
        InfoLabel->setText(QStringLiteral("The chat archive cannot be read now."));
    else if (m_hits.empty())
        InfoLabel->setText(QStringLiteral("No past chat matches."));
    else
        InfoLabel->setText(QString());
    if (!m_hits.empty())
        Results->setCurrentItem(Results->topLevelItem(0));
    else {
        m_open.reset();
        ChatView->clear();
    }
    UpdateButtons();
}

void TPastChatsWindow::OpenRow(int row)
{
    TArchiveDb *reader = m_archive.Reader();
    if (row < 0 || row >= int(m_hits.size()) || !reader) {
        m_open.reset();
        ChatView->clear();
        UpdateButtons();
        return;
    }
    m_open = reader->Chat(m_hits[size_t(row)].Chat);
    ChatView->clear();
    if (m_open) {
        RenderPastChat(*ChatView->document(), reader->Lines(m_open->Id));
        QString info = m_open->Visitor + QStringLiteral("  ") + m_open->Email + QStringLiteral("  ") + m_open->Site
                       + QStringLiteral("  ") + When(m_open->Started) + QStringLiteral("  ") + m_open->Status;
        if (!m_open->EndedProperly)
            info += QStringLiteral("  (not ended properly)");
        if (const auto fate = reader->TranscriptFate(m_open->Id)) {
            static const char *const kFates[] = {"queued", "sent to %1", "set aside: %2"};
            info += QStringLiteral("  Transcript ")
                    + QString::fromLatin1(kFates[int(fate->State)]).arg(fate->Recipients, fate->Answer);
        }
        InfoLabel->setText(info);
    }
    UpdateButtons();
}

void TPastChatsWindow::UpdateButtons()
{
    const bool open = m_open.has_value();
    for (QPushButton *button : {SendAgainBtn, SaveAsBtn, CopyBtn, DeleteBtn})
        button->setEnabled(open);
    ForgetBtn->setEnabled(open && !m_open->Email.trimmed().isEmpty());
}

void TPastChatsWindow::SendAgainClick()
{
    if (!m_open || !m_compose)
        return;
    // To the visitor, or to whom the operator types instead.
    TTranscriptSource source;
    source.SessionCount = m_open->SessionCount;
    source.Name = m_open->Visitor;
    source.Email = m_open->Email;
    source.WarningCaption = windowTitle();
    // The chat as the window shows it, without reading its lines again.
    const std::unique_ptr<QTextDocument> document(ChatView->document()->clone());
    InsertHeaderLines(*document,
                      TranscriptHeaderLines(TTranscriptHeader{m_open->Email, When(m_open->Started),
                                                              When(m_open->Ended), m_open->Supporter}),
                      kNoticeGreen);
    source.Conversation = DocumentToRtf(*document);
    m_compose(source);
    InfoLabel->setText(QStringLiteral("The transcript is queued for ") + m_open->Email + QLatin1Char('.'));
}

void TPastChatsWindow::SaveAsClick()
{
    if (!m_open)
        return;
    const QString path = SetupDialogs().SaveFile(
        this, QStringLiteral("Rich text (*.rtf *.RTF);;HTML (*.html *.htm *.HTML);;Text (*.txt *.TXT)"), QString());
    if (path.isEmpty())
        return;
    const QString suffix = QFileInfo(path).suffix().toLower();
    QByteArray bytes;
    if (suffix == QLatin1String("rtf"))
        bytes = DocumentToRtf(*ChatView->document());
    else if (suffix.startsWith(QLatin1String("htm")))
        bytes = ChatView->document()->toHtml().toUtf8();
    else
        bytes = ChatView->document()->toPlainText().toUtf8();
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.commit())
        ShowBox(QStringLiteral("Could not write ") + path + QStringLiteral(": ") + out.errorString(), windowTitle(),
                BoxIcon::Error, BoxButtons::Ok, this);
}

void TPastChatsWindow::CopyClick()
{
    const QTextCursor selection = ChatView->textCursor();
    QGuiApplication::clipboard()->setText(selection.hasSelection() ? selection.selectedText().replace(QChar::ParagraphSeparator, QLatin1Char('\n'))
                                                                   : ChatView->toPlainText());
}

void TPastChatsWindow::DeleteChatClick()
{
    if (!m_open || ShowBox(QStringLiteral("Delete this chat with ") + m_open->Visitor
                               + QStringLiteral(" from the archive? It cannot be brought back."),
                           windowTitle(), BoxIcon::Question, BoxButtons::YesNo, this)
                       != BoxAnswer::Yes)
        return;
    m_archive.DeleteChat(m_open->Id, [this](int count) { Removed(count); });
}

void TPastChatsWindow::ForgetVisitorClick()
{
    if (!m_open || m_open->Email.trimmed().isEmpty())
        return;
    const QString email = m_open->Email;
    if (ShowBox(QStringLiteral("Forget every chat with ") + email
                    + QStringLiteral("? They are removed from the archive and cannot be brought back."),
                windowTitle(), BoxIcon::Question, BoxButtons::YesNo, this)
        != BoxAnswer::Yes)
        return;
    m_archive.ForgetVisitor(email, [this](int count) { Removed(count); });
}

void TPastChatsWindow::Removed(int count)
{
    SearchNow();
    InfoLabel->setText(count < 0 ? QStringLiteral("The archive could not remove the chats now.")
                                 : QStringLiteral("%1 chat(s) removed.").arg(count));
}

} // namespace velmora
