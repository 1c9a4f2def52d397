#pragma once
// "Past chats": searching the archive as the operator types, filters, the
// results newest first with the words found highlighted, and one past chat
// shown read-only as its chat window showed it. From there its transcript
// is sent again through the mail queue, saved or copied, and the chat or
// every chat of its visitor removed. All of it works from the keyboard.
#include "archive/ArchiveDb.h"
#include "mail/Transcript.h"

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
class QTreeWidget;

namespace velmora {

class TArchiveRecorder;

// A result's snippet as markup: the text escaped, then the marks made bold.
QString SnippetMarkup(const QString &snippet);
// A past chat's lines into `document`, in the chat window's colours.
void RenderPastChat(QTextDocument &document, const std::vector<TArchiveLine> &lines);

class TPastChatsWindow : public QDialog {
    Q_OBJECT
public:
    static constexpr int kSearchDelayMs = 250;

    // `compose` queues a transcript as a chat's end does.
    TPastChatsWindow(TArchiveRecorder &archive, std::function<void(const TTranscriptSource &)> compose,
                     QWidget *parent = nullptr);

    // Shows the window with the visitor filter set (empty: cleared).
    void ShowFor(const QString &visitor);
    // Runs the search now instead of after the typing pause.
    void SearchNow();
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
    QCheckBox *DatesCheck = nullptr;
    QDateEdit *FromDate = nullptr;
    QDateEdit *ToDate = nullptr;
    QTreeWidget *Results = nullptr;
    QTextEdit *ChatView = nullptr;
    QLabel *InfoLabel = nullptr;
    QPushButton *SendAgainBtn = nullptr;
    QPushButton *SaveAsBtn = nullptr;
    QPushButton *CopyBtn = nullptr;
    QPushButton *DeleteBtn = nullptr;
    QPushButton *ForgetBtn = nullptr;

    qint64 OpenChatId() const { return m_open ? m_open->Id : 0; }

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
    void ScheduleSearch();
    void UpdateButtons();
    void Removed(int count);
    // The open chat with its header block (visitor, e-mail, site, start, operator) on top.
    std::unique_ptr<QTextDocument> ExportDocument() const;

    TArchiveRecorder &m_archive;
    std::function<void(const TTranscriptSource &)> m_compose;
    QTimer m_searchTimer;
    std::vector<TArchiveHit> m_hits;
    std::optional<TArchiveChat> m_open;
};

} // namespace velmora
