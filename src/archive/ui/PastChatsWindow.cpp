#include "archive/ui/PastChatsWindow.h"

#include "archive/ArchiveRecorder.h"
#include "archive/ArchiveSearcher.h"
#include "chat/ChatLines.h"
#include "config/Settings.h"
#include "config/ui/SetupDialogs.h"
#include "diag/Boxes.h"
#include "diag/SafeText.h"
#include "mail/MailText.h"
#include "richtext/HeaderLines.h"
#include "team/TeamArchive.h"
#include "richtext/RtfWriter.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QSaveFile>
#include <QShortcut>
#include <QSplitter>
#include <QStandardPaths>
#include <QTextDocument>
#include <QTextDocumentWriter>
#include <QTextEdit>
#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QTreeView>
#include <QVBoxLayout>

#include <memory>

namespace velmora {
namespace {

using Column = TPastChatsModel::Column;

QString When(qint64 ms)
{
    return QLocale::system().toString(QDateTime::fromMSecsSinceEpoch(ms), QLocale::ShortFormat);
}

// Paints the found text with its words highlighted; only the rows on
// screen are ever laid out.
class SnippetDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QStyleOptionViewItem plain = option;
        initStyleOption(&plain, index);
        plain.text.clear();
        QStyle *style = plain.widget ? plain.widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &plain, painter, plain.widget);
        QTextDocument document;
        document.setDocumentMargin(0);
        document.setDefaultFont(option.font);
        document.setHtml(index.data(TPastChatsModel::kMarkupRole).toString());
        const QRect text = style->subElementRect(QStyle::SE_ItemViewItemText, &plain, plain.widget);
        painter->save();
        painter->translate(text.left(), text.top() + qMax(0, (text.height() - int(document.size().height())) / 2));
        const QRect clip(0, 0, text.width(), text.height());
        painter->setClipRect(clip);
        QAbstractTextDocumentLayout::PaintContext context;
        context.palette = option.palette;
        if (option.state & QStyle::State_Selected)
            context.palette.setColor(QPalette::Text, option.palette.color(QPalette::HighlightedText));
        context.clip = clip;
        document.documentLayout()->draw(painter, context);
        painter->restore();
    }
};

} // namespace

int TPastChatsModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_hits.size());
}

int TPastChatsModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColCount;
}

QVariant TPastChatsModel::data(const QModelIndex &index, int role) const
{
    const TArchiveHit *hit = Hit(index.row());
    if (!hit)
        return {};
    if (role == kMarkupRole)
        return SnippetMarkup(hit->Snippet);
    if (role != Qt::DisplayRole && role != Qt::AccessibleTextRole && role != Qt::ToolTipRole)
        return {};
    switch (index.column()) {
    case ColStarted: return When(hit->Started);
    case ColVisitor: return hit->Visitor;
    case ColEmail: return hit->Email;
    case ColSite: return hit->Site;
    case ColStatus: return hit->Status;
    // The plain text for the keyboard's type-ahead and screen readers.
    case ColFound: return ArchiveText(hit->Snippet);
    default: return {};
    }
}

QVariant TPastChatsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    static const char *const kTitles[] = {"Started", "Visitor", "E-mail", "Site", "Status", "Found"};
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= ColCount)
        return {};
    return QString::fromLatin1(kTitles[section]);
}

bool TPastChatsModel::canFetchMore(const QModelIndex &parent) const
{
    return !parent.isValid() && !m_atEnd && !m_asked;
}

void TPastChatsModel::fetchMore(const QModelIndex &parent)
{
    if (!canFetchMore(parent) || !WantMore)
        return;
    m_asked = true;
    WantMore();
}

void TPastChatsModel::Reset(std::vector<TArchiveHit> hits, bool atEnd)
{
    beginResetModel();
    m_hits = std::move(hits);
    m_atEnd = atEnd;
    m_asked = false;
    endResetModel();
}

void TPastChatsModel::Append(const std::vector<TArchiveHit> &hits, bool atEnd)
{
    m_asked = false;
    m_atEnd = atEnd;
    if (hits.empty())
        return;
    beginInsertRows({}, int(m_hits.size()), int(m_hits.size() + hits.size()) - 1);
    m_hits.insert(m_hits.end(), hits.begin(), hits.end());
    endInsertRows();
}

const TArchiveHit *TPastChatsModel::Hit(int row) const
{
    return row >= 0 && row < int(m_hits.size()) ? &m_hits[size_t(row)] : nullptr;
}

QString SnippetMarkup(const QString &snippet)
{
    QString markup = snippet.toHtmlEscaped();
    markup.replace(kMarkOpen, QStringLiteral("<b style=\"background:#fff3a0\">"));
    markup.replace(kMarkClose, QStringLiteral("</b>"));
    return markup;
}

void RenderPastChat(QTextDocument &document, const std::vector<TArchiveLine> &lines, size_t from, size_t to)
{
    const TSettings &s = Settings();
    QTextCharFormat base;
    base.setFont(ConversationFont());
    document.setDefaultFont(ConversationFont());
    for (size_t i = from; i < std::min(to, lines.size()); ++i) {
        const TArchiveLine &line = lines[i];
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
    // Opened from a chat (Ctrl+Shift+H), it must come in front of the chat
    // windows, which stay on top.
    setWindowFlag(Qt::WindowStaysOnTopHint);
    AskAddress = [](QWidget *parent, const QString &visitor) {
        return QInputDialog::getText(parent, QStringLiteral("Send transcript again"),
                                     QStringLiteral("The chat with %1 has no e-mail address.\nSend its transcript to:")
                                         .arg(visitor.isEmpty() ? QStringLiteral("this visitor") : visitor))
            .trimmed();
    };
    m_searcher = new TArchiveSearcher(archive, this);
    connect(m_searcher, &TArchiveSearcher::Found, this, &TPastChatsWindow::Found);
    connect(m_searcher, &TArchiveSearcher::Failed, this, &TPastChatsWindow::SearchFailed);
    BuildControls();
    m_searchTimer.setSingleShot(true);
    m_searchTimer.setInterval(kSearchDelayMs);
    connect(&m_searchTimer, &QTimer::timeout, this, &TPastChatsWindow::TypingPaused);
    // A file another program holds is tried again on this timer, never on
    // a paint or a scroll.
    m_busyRetry.setSingleShot(true);
    m_busyRetry.setInterval(kBusyRetryMs);
    connect(&m_busyRetry, &QTimer::timeout, this, &TPastChatsWindow::SearchNow);
    connect(&m_renderTimer, &QTimer::timeout, this, &TPastChatsWindow::RenderSome);
    resize(900, 560);
}

TPastChatsWindow::~TPastChatsWindow() = default;

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
    dates->addWidget(MakeScopeBox());
    filters->addLayout(dates, 2, 1, 1, 5);

    ResultsModel = new TPastChatsModel(this);
    ResultsModel->WantMore = [this] {
        if (TeamScope())
            SearchTeam(m_teamFilter, true);
        else
            m_searcher->More();
    };
    Results = new QTreeView(this);
    Results->setObjectName(QStringLiteral("PastChatsResults"));
    Results->setModel(ResultsModel);
    Results->setItemDelegateForColumn(TPastChatsModel::ColFound, new SnippetDelegate(Results));
    Results->setRootIsDecorated(false);
    Results->setAllColumnsShowFocus(true);
    Results->setUniformRowHeights(true);
    Results->header()->setStretchLastSection(true);
    Results->setColumnWidth(TPastChatsModel::ColStarted, 120);
    Results->setColumnWidth(TPastChatsModel::ColVisitor, 100);
    Results->setColumnWidth(TPastChatsModel::ColEmail, 150);
    Results->setColumnWidth(TPastChatsModel::ColSite, 90);
    Results->setColumnWidth(TPastChatsModel::ColStatus, 80);

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
    connect(Results->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex &current) { OpenRow(current.row()); });
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
    if (TArchiveDb *reader = m_archive.ReaderNow())
        StatusBox->addItems(reader->Statuses());
    StatusBox->setCurrentIndex(qMax(0, StatusBox->findText(kept)));
    StatusBox->blockSignals(false);
    // The scope follows whether there is a team archive now; a visitor's
    // earlier chats are the team's, as the chat window counted them.
    const TTeamArchive *team = TeamArchive();
    ScopeBox->setVisible(team && team->Enabled());
    if (!visitor.isEmpty() && ScopeBox->isVisibleTo(this)) {
        ScopeBox->blockSignals(true);
        ScopeBox->setCurrentIndex(1);
        ScopeBox->blockSignals(false);
    }
    VisitorEdit->setText(visitor);
    // A visitor's chats are asked for: a word left from an earlier search
    // would hide them.
    if (!visitor.isEmpty()) {
        SearchEdit->clear();
        SiteEdit->clear();
    }
    SearchNow();
    show();
    raise();
    activateWindow();
    SearchEdit->setFocus();
}

void TPastChatsWindow::ScheduleSearch()
{
    m_searching = true; // from the key on, until the results are shown
    m_searchTimer.start();
}

void TPastChatsWindow::TypingPaused()
{
    // One letter finds too much to be of use: it waits for a second, or Enter.
    const QString words = SearchEdit->text().trimmed();
    if (!words.isEmpty() && words.size() < kMinLetters) {
        m_searching = false;
        InfoLabel->setText(QStringLiteral("Type one more letter, or press Enter to search for \"%1\".").arg(words));
        return;
    }
    SearchNow();
}

void TPastChatsWindow::SearchNow()
{
    m_searchTimer.stop();
    m_busyRetry.stop();
    TArchiveFilter filter;
    filter.Text = SearchEdit->text();
    filter.Visitor = VisitorEdit->text();
    filter.Site = SiteEdit->text();
    filter.Status = StatusBox->currentIndex() > 0 ? StatusBox->currentText() : QString();
    if (DatesCheck->isChecked()) {
        filter.From = FromDate->date();
        filter.To = ToDate->date();
    }
    if (TeamScope()) {
        SearchTeam(filter, false);
        return;
    }
    m_search = m_searcher->Search(filter);
    m_searching = true;
}

void TPastChatsWindow::Found(quint64 search, const std::vector<TArchiveHit> &hits, bool first, bool atEnd)
{
    if (search != m_search)
        return;
    // Results of what was typed before the last key: shown, but the
    // search for the last one is still to come.
    m_searching = m_searchTimer.isActive();
    if (!first) {
        ResultsModel->Append(hits, atEnd);
        return;
    }
    ResultsModel->Reset(hits, atEnd);
    if (!hits.empty())
        Results->setCurrentIndex(ResultsModel->index(0, 0));
    else
        OpenRow(-1);
    const QString note = std::exchange(m_note, QString());
    if (!note.isEmpty())
        InfoLabel->setText(note);
    else if (hits.empty())
        InfoLabel->setText(QStringLiteral("No past chat matches."));
}

void TPastChatsWindow::SearchFailed(quint64 search, const QString &error, bool busy, bool damaged)
{
    if (search != m_search)
        return;
    m_searching = m_searchTimer.isActive();
    // Never "no matches": the operator is told the archive could not be read.
    if (busy) {
        InfoLabel->setText(QStringLiteral("The chat archive is busy (%1); trying again.").arg(error));
        m_busyRetry.start();
        return;
    }
    InfoLabel->setText(QStringLiteral("The chat archive could not be read: %1").arg(error));
    m_archive.ReadFailed(error, damaged);
}

void TPastChatsWindow::OpenRow(int row)
{
    if (TeamScope()) {
        OpenTeamRow(row);
        return;
    }
    TArchiveDb *reader = m_archive.ReaderNow();
    const TArchiveHit *hit = ResultsModel->Hit(row);
    if (!hit || !reader) {
        m_open.reset();
        m_lines.clear();
        m_renderTimer.stop();
        ChatView->clear();
        if (hit)
            InfoLabel->setText(QStringLiteral("The chat archive cannot be read now."));
        UpdateButtons();
        return;
    }
    const int failures = reader->Failures();
    m_open = reader->Chat(hit->Chat);
    ChatView->clear();
    m_lines = m_open ? reader->Lines(m_open->Id) : std::vector<TArchiveLine>{};
    m_rendered = 0;
    RenderSome();
    if (reader->Failures() != failures) {
        m_open.reset();
        m_lines.clear();
        m_renderTimer.stop();
        ChatView->clear();
        InfoLabel->setText(QStringLiteral("The chat archive could not be read: ") + reader->LastError());
        m_archive.ReadFailed(reader->LastError(), reader->LastWasDamage());
    } else if (m_open) {
        QString info = m_open->Visitor + QStringLiteral("  ") + m_open->Email + QStringLiteral("  ") + m_open->Site
                       + QStringLiteral("  ") + When(m_open->Started) + QStringLiteral("  ") + m_open->Status;
        if (m_open->Open) {
            // The chat going on now: only a chat a crash left behind is "not ended properly".
            info += QStringLiteral("  (running)");
        } else if (!m_open->EndedProperly) {
            info += QStringLiteral("  (not ended properly)");
        }
        if (const auto fate = reader->TranscriptFate(m_open->Id)) {
            static const char *const kFates[] = {"queued", "sent to %1", "set aside: %2"};
            info += QStringLiteral("  Transcript ")
                    + QString::fromLatin1(kFates[int(fate->State)]).arg(fate->Recipients, fate->Answer);
        }
        InfoLabel->setText(info);
    }
    UpdateButtons();
}

void TPastChatsWindow::RenderSome()
{
    // Typing into the search opens the first result each time: a long chat
    // must not hold the keys while it is laid out.
    const size_t to = std::min(m_lines.size(), m_rendered + kRenderLines);
    RenderPastChat(*ChatView->document(), m_lines, m_rendered, to);
    m_rendered = to;
    if (m_rendered < m_lines.size())
        m_renderTimer.start(0);
    else
        m_renderTimer.stop();
}

void TPastChatsWindow::RenderRest()
{
    m_renderTimer.stop();
    RenderPastChat(*ChatView->document(), m_lines, m_rendered);
    m_rendered = m_lines.size();
}

void TPastChatsWindow::UpdateButtons()
{
    const bool open = m_open.has_value();
    for (QPushButton *button : {SendAgainBtn, SaveAsBtn, CopyBtn, DeleteBtn})
        button->setEnabled(open);
    // A colleague's chat is theirs to delete; forgetting a visitor reaches the whole team.
    DeleteBtn->setEnabled(open && !TeamScope());
    ForgetBtn->setEnabled(open && (!m_open->Email.trimmed().isEmpty() || !m_open->Visitor.trimmed().isEmpty()));
}

std::unique_ptr<QTextDocument> TPastChatsWindow::ExportDocument() const
{
    // The chat as the window shows it, without reading its lines again.
    std::unique_ptr<QTextDocument> document(ChatView->document()->clone());
    if (!m_open)
        return document;
    // The transcript's header, and who and where: a saved file stands alone.
    QStringList header = TranscriptHeaderLines(
        TTranscriptHeader{m_open->Email, When(m_open->Started), When(m_open->Ended), m_open->Supporter});
    header.insert(1, QStringLiteral("  Visitor: ") + OneLine(m_open->Visitor));
    header.insert(3, QStringLiteral("  Site: ") + OneLine(m_open->Site));
    InsertHeaderLines(*document, header, kNoticeGreen);
    return document;
}

void TPastChatsWindow::SendAgainClick()
{
    if (!m_open || !m_compose)
        return;
    RenderRest();
    // A chat without an address goes where the operator says, or nowhere.
    QString address = m_open->Email.trimmed();
    if (address.isEmpty()) {
        QPointer<TPastChatsWindow> self(this);
        address = AskAddress ? AskAddress(this, m_open->Visitor) : QString();
        if (!self || !m_open || address.isEmpty())
            return;
        if (!IsPlausibleAddress(address)) {
            ShowBox(QStringLiteral("\"") + OneLine(address) + QStringLiteral("\" is not an e-mail address; nothing was sent."),
                    windowTitle(), BoxIcon::Warning, BoxButtons::Ok, this);
            return;
        }
    }
    TTranscriptSource source;
    source.SessionCount = m_open->SessionCount;
    source.Name = m_open->Visitor;
    source.Email = address;
    source.WarningCaption = windowTitle();
    const std::unique_ptr<QTextDocument> document(ChatView->document()->clone());
    InsertHeaderLines(*document,
                      TranscriptHeaderLines(TTranscriptHeader{address, When(m_open->Started),
                                                              When(m_open->Ended), m_open->Supporter}),
                      kNoticeGreen);
    source.Conversation = DocumentToRtf(*document);
    m_compose(source);
    InfoLabel->setText(QStringLiteral("The transcript is queued for ") + address + QLatin1Char('.'));
}

QString TPastChatsWindow::SuggestedFileName(const TArchiveChat &chat)
{
    // Characters no file system takes, and blanks, become "_".
    QString visitor = OneLine(chat.Visitor).trimmed();
    visitor.replace(QRegularExpression(QStringLiteral("[\\\\/:*?\"<>|\\s]+")), QStringLiteral("_"));
    visitor.remove(QRegularExpression(QStringLiteral("^[._]+")));
    if (visitor.isEmpty())
        visitor = QStringLiteral("visitor");
    const QString date = QDateTime::fromMSecsSinceEpoch(chat.Started).toString(QStringLiteral("yyyy-MM-dd_HHmm"));
    return QStringLiteral("chat_") + visitor.left(40) + QLatin1Char('_') + date;
}

TPastChatsWindow::ExportFormat TPastChatsWindow::FormatOfFilter(const QString &filter)
{
    if (filter.contains(QLatin1String("*.rtf")))
        return ExportFormat::Rtf;
    if (filter.contains(QLatin1String("*.htm")))
        return ExportFormat::Html;
    return ExportFormat::Text;
}

void TPastChatsWindow::SaveAsClick()
{
    if (!m_open)
        return;
    RenderRest();
    static const QString kFilters =
        QStringLiteral("Rich text (*.rtf *.RTF);;HTML (*.html *.htm *.HTML);;Text (*.txt *.TXT)");
    QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (documents.isEmpty() || !QDir(documents).exists())
        documents = QDir::homePath();
    QString chosen;
    QString path = SetupDialogs().SaveFileAs(this, kFilters, QDir(documents).filePath(SuggestedFileName(*m_open)),
                                             &chosen);
    if (path.isEmpty() || !m_open)
        return;
    // The chosen type decides the format; a name without its extension gets it.
    static const char *const kExtensions[] = {"rtf", "html", "txt"};
    const ExportFormat format = FormatOfFilter(chosen);
    const QString suffix = QFileInfo(path).suffix().toLower();
    const bool fits = format == ExportFormat::Rtf    ? suffix == QLatin1String("rtf")
                      : format == ExportFormat::Html ? (suffix == QLatin1String("html") || suffix == QLatin1String("htm"))
                                                     : suffix == QLatin1String("txt");
    if (!fits)
        path += QLatin1Char('.') + QLatin1String(kExtensions[int(format)]);
    const std::unique_ptr<QTextDocument> document = ExportDocument();
    QByteArray bytes;
    switch (format) {
    case ExportFormat::Rtf: bytes = DocumentToRtf(*document); break;
    case ExportFormat::Html: bytes = document->toHtml().toUtf8(); break;
    case ExportFormat::Text: bytes = document->toPlainText().toUtf8(); break;
    }
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.commit()) {
        ShowBox(QStringLiteral("Could not write ") + path + QStringLiteral(": ") + out.errorString(), windowTitle(),
                BoxIcon::Error, BoxButtons::Ok, this);
        return;
    }
    InfoLabel->setText(QStringLiteral("Saved as ") + path + QLatin1Char('.'));
}

void TPastChatsWindow::CopyClick()
{
    RenderRest();
    const QTextCursor selection = ChatView->textCursor();
    QGuiApplication::clipboard()->setText(selection.hasSelection() ? selection.selectedText().replace(QChar::ParagraphSeparator, QLatin1Char('\n'))
                                                                   : ChatView->toPlainText());
}

void TPastChatsWindow::DeleteChatClick()
{
    if (!m_open)
        return;
    // Its next lines would go under a chat that is gone.
    if (m_open->Open) {
        InfoLabel->setText(QStringLiteral("End the chat first."));
        return;
    }
    if (ConfirmBox(QStringLiteral("Delete this chat with ") + m_open->Visitor
                       + QStringLiteral(" from the archive? It cannot be brought back."),
                   windowTitle(), BoxIcon::Question, BoxButtons::YesNo, this)
                       != BoxAnswer::Yes)
        return;
    m_archive.DeleteChat(m_open->Id, [this](int count) { Removed(count); });
}

void TPastChatsWindow::ForgetVisitorClick()
{
    if (!m_open)
        return;
    // By address; a visitor who gave none is known by name and site.
    const QString email = m_open->Email.trimmed();
    const QString name = m_open->Visitor.trimmed();
    const QString site = m_open->Site;
    if (email.isEmpty() && name.isEmpty())
        return;
    TArchiveDb *reader = m_archive.Reader();
    const int count = reader ? reader->Earlier(email, email.isEmpty() ? name : QString(), site).Count : 0;
    const QString who = email.isEmpty() ? name + QStringLiteral(" on ") + (site.isEmpty() ? QStringLiteral("no site") : site)
                                        : email;
    const TTeamArchive *team = TeamArchive();
    const bool shared = team && team->Enabled();
    const QString chats = shared       ? QStringLiteral("every chat")
                          : count == 1 ? QStringLiteral("the 1 chat")
                                       : QStringLiteral("all %1 chats").arg(count);
    if (ConfirmBox(QStringLiteral("Forget ") + chats + QStringLiteral(" with ") + who
                       + (shared ? QStringLiteral("? They are removed from this computer's archive and from the team "
                                                  "archive, and cannot be brought back.\n\n")
                                 : QStringLiteral("? They are removed from the archive and cannot be brought back.\n\n"))
                       + QStringLiteral("The session log and any transcripts still waiting in the outbox are "
                                        "not touched."),
                   windowTitle(), BoxIcon::Question, BoxButtons::YesNo, this)
        != BoxAnswer::Yes)
        return;
    auto done = [this](int removed) { Removed(removed); };
    if (email.isEmpty())
        m_archive.ForgetVisitorNamed(name, site, done);
    else
        m_archive.ForgetVisitor(email, done);
}

void TPastChatsWindow::Removed(int count)
{
    m_note = count < 0 ? QStringLiteral("The archive could not remove the chats now.")
                       : QStringLiteral("%1 chat(s) removed.").arg(count);
    InfoLabel->setText(m_note);
    SearchNow();
}

} // namespace velmora
