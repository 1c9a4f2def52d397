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

private:
    void BuildControls();
    void ScheduleSearch();
    void UpdateButtons();
    void Removed(int count);

    TArchiveRecorder &m_archive;
    std::function<void(const TTranscriptSource &)> m_compose;
    QTimer m_searchTimer;
    std::vector<TArchiveHit> m_hits;
    std::optional<TArchiveChat> m_open;
};

} // namespace velmora
