#pragma once
// "Past chats": searching the archive as the operator types, filters, the
// results newest first with the words found highlighted, and one past chat
// shown read-only as its chat window showed it. From there its transcript
// is sent again through the mail queue, saved or copied, and the chat or
// every chat of its visitor removed. All of it works from the keyboard.
#include "archive/ArchiveDb.h"
#include "mail/Transcript.h"

#include <QAbstractTableModel>
#include <QDialog>
#include <QTimer>

#include <functional>
#include <memory>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QTextDocument;
class QTextEdit;
class QTreeView;

namespace velmora {

class TArchiveRecorder;
class TArchiveSearcher;

// The results as the list shows them, a page at a time: the view asks for
// the next page as it scrolls to the end.
class TPastChatsModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { ColStarted, ColVisitor, ColEmail, ColSite, ColStatus, ColFound, ColCount };
    // The found text as markup, for the delegate that highlights it.
    static constexpr int kMarkupRole = Qt::UserRole + 1;

    using QAbstractTableModel::QAbstractTableModel;
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    bool canFetchMore(const QModelIndex &parent) const override;
    void fetchMore(const QModelIndex &parent) override;

    void Reset(std::vector<TArchiveHit> hits, bool atEnd);
    void Append(const std::vector<TArchiveHit> &hits, bool atEnd);
    const TArchiveHit *Hit(int row) const;
    // Asks for the next page; the answer comes through Append.
    std::function<void()> WantMore;

private:
    std::vector<TArchiveHit> m_hits;
    bool m_atEnd = true;
    bool m_asked = false;
};

// A result's snippet as markup: the text escaped, then the marks made bold.
QString SnippetMarkup(const QString &snippet);
// A past chat's lines into `document`, in the chat window's colours.
// Lines [from, to) of them, appended: a long chat is shown a part at a time.
void RenderPastChat(QTextDocument &document, const std::vector<TArchiveLine> &lines, size_t from = 0,
                    size_t to = size_t(-1));

class TPastChatsWindow : public QDialog {
    Q_OBJECT
public:
    // Short: a newer search interrupts the one running, so typing costs nothing.
    static constexpr int kSearchDelayMs = 50;
    // Fewer letters than this wait for Enter.
    static constexpr int kMinLetters = 2;
    static constexpr int kBusyRetryMs = 1000;
    // Lines of a past chat laid out per turn of the event loop.
    static constexpr int kRenderLines = 40;

    // `compose` queues a transcript as a chat's end does.
    TPastChatsWindow(TArchiveRecorder &archive, std::function<void(const TTranscriptSource &)> compose,
                     QWidget *parent = nullptr);
    ~TPastChatsWindow() override;

    // Shows the window with the visitor filter set (empty: cleared).
    void ShowFor(const QString &visitor);
    // Starts the search now instead of after the typing pause (as Enter
    // does: even on one letter). The results come a moment later.
    void SearchNow();
    // True from a key that changes the search until its results are shown.
    bool Searching() const { return m_searching; }
    // Opens a result (by its row) in the reading pane.
    void OpenRow(int row);

    void SendAgainClick();
    void SaveAsClick();
    void CopyClick();
    void DeleteChatClick();
    void ForgetVisitorClick();

    QLineEdit *SearchEdit = nullptr;
    QLineEdit *VisitorEdit = nullptr;
    QLineEdit *SiteEdit = nullptr;
    QComboBox *StatusBox = nullptr;
    // "This computer" or "The team"; shown while the console has a team archive.
    QComboBox *ScopeBox = nullptr;
    QCheckBox *DatesCheck = nullptr;
    QDateEdit *FromDate = nullptr;
    QDateEdit *ToDate = nullptr;
    QTreeView *Results = nullptr;
    TPastChatsModel *ResultsModel = nullptr;
    QTextEdit *ChatView = nullptr;
    QLabel *InfoLabel = nullptr;
    QPushButton *SendAgainBtn = nullptr;
    QPushButton *SaveAsBtn = nullptr;
    QPushButton *CopyBtn = nullptr;
    QPushButton *DeleteBtn = nullptr;
    QPushButton *ForgetBtn = nullptr;


    // The address a transcript goes to when its chat has none; empty when
    // the operator cancelled. A dialog by default; tests answer it.
    std::function<QString(QWidget *parent, const QString &visitor)> AskAddress;
    // The export's file name as offered: visitor and the chat's date.
    static QString SuggestedFileName(const TArchiveChat &chat);
    // The export formats, in the order of the save dialog's filters.
    enum class ExportFormat { Rtf, Html, Text };
    static ExportFormat FormatOfFilter(const QString &filter);

private:
    void BuildControls();
    // The team scope (PastChatsTeam.cpp): the same search and reading over
    // the team archive, answered from its own thread.
    QComboBox *MakeScopeBox();
    bool TeamScope() const;
    void SearchTeam(const TArchiveFilter &filter, bool more);
    void OpenTeamRow(int row);
    void ScheduleSearch();
    void TypingPaused();
    void Found(quint64 search, const std::vector<TArchiveHit> &hits, bool first, bool atEnd);
    void SearchFailed(quint64 search, const QString &error, bool busy, bool damaged);
    void UpdateButtons();
    void Removed(int count);
    // The open chat with its header block (visitor, e-mail, site, start, operator) on top.
    std::unique_ptr<QTextDocument> ExportDocument() const;
    // The open chat's lines not on screen yet, a part per turn of the event loop.
    void RenderSome();
    void RenderRest();

    TArchiveRecorder &m_archive;
    std::function<void(const TTranscriptSource &)> m_compose;
    QTimer m_searchTimer;
    QTimer m_busyRetry;
    TArchiveSearcher *m_searcher = nullptr;
    quint64 m_search = 0;
    bool m_searching = false;
    std::vector<TArchiveLine> m_lines;
    size_t m_rendered = 0;
    QTimer m_renderTimer;
    // What the next results show above them instead of their own note.
    QString m_note;
    std::optional<TArchiveChat> m_open;
    // The team's results: the filter, and the console of each row.
    TArchiveFilter m_teamFilter;
    std::vector<QString> m_teamConsoles;
    quint64 m_teamSearches = 0;
};

} // namespace velmora
