#pragma once
// The part that both chat windows show: the conversation with its pop-up
// menu and its "new messages" marker, the input box with its Enter key,
// length limit and marks for characters the wire cannot carry, the send and
// sound buttons, the status bar with the clock, the window's flashing and the
// chat sound. The connection behind it is the window's affair: the pane only
// says when the operator wants to send, has changed the input, or clicked it.
#include <QTextCursor>
#include <QColor>
#include <QTextCharFormat>
#include <QTimer>
#include <QWidget>

#include "chat/WavSound.h"
#include "shortcuts/Placeholders.h"

#include <deque>
#include <functional>
#include <optional>

class QHBoxLayout;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QStatusBar;
class QTextEdit;
class QToolButton;

class QCompleter;

namespace velmora {

class ISpellChecker;
class TSpellHighlighter;
class TTitleDataClass;

class TChatPane : public QWidget {
    Q_OBJECT
public:
    static constexpr int kMaxInputChars = 32748;
    static constexpr int kClientWidth = 403;
    static constexpr int kClientHeight = 335;

    explicit TChatPane(QWidget *parent = nullptr);

    // The line renderer: the first `nameLength` characters in `nameColor`,
    // the rest in `textColor`; an empty line after it when EmptyLineAdd is set.
    // The conversation follows only when the operator is at its end; someone
    // reading back keeps the place and gets the marker instead.
    void AddLine(const QString &text, const QColor &nameColor, int nameLength, const QColor &textColor);
    // A whole line in the notices' green.
    void AddNotice(const QString &text);
    // Notice lines put in before the block that starts at `position` (at the
    // end when nothing follows it).
    // Returns a cursor at the start of the first line, which follows later edits.
    QTextCursor InsertNotices(int position, const QStringList &lines);
    // Rewrites the line that `at` is on, in that line's colours, while it still reads `was`.
    void ReplaceLine(const QTextCursor &at, const QString &was, const QString &text);
    // The operator's line as it went out (the wire's bytes, so the
    // conversation never shows what the far end did not get); always brought
    // into view.
    void AddOwnLine(const QByteArray &wire);
    // The far end's line: attention while the window is not active, the
    // sound, and its typing notice gone.
    void AddRemoteLine(const QString &name, const QString &text);
    // " <name> typing..." in the status bar, and on the chat for its tab.
    void ShowRemoteTyping(const QString &name, bool typing);
    // A click into the input: the operator has seen the chat.
    void InputTextClick();
    // The chat's status icon on the window that shows it, set only when it changes.
    void ShowStatusIcon(int icon);
    // A line of the console itself (the end of the chat), always brought into view.
    void AddSystemLine(const QString &text);
    // The chat is over: the line that says so, nothing more to type or send;
    // the conversation stays to be read and copied.
    void ShowEnded(const QString &systemLine);
    // The time of day as the end lines give it.
    static QString NowText();
    // The next line comes into view even when the operator reads back (their own).
    void FollowNextLine() { m_followNextLine = true; }
    const QTextCharFormat &BaseFormat() const { return m_baseFormat; }
    bool NewMessagesShown() const;
    void ScrollToNewest();
    // What is still to come of long lines shown in pieces, in place now: for
    // whatever reads the whole conversation (a transcript, a transfer).
    void ShowRestOfLines();

    QString InputPlainText() const;
    // What Send sends: the input without the line breaks around it (an Enter
    // pressed first or last would reach the far end as an empty line).
    QString OutgoingText() const;
    // The message for Send; when there is none, the input is emptied of any
    // line breaks and keeps the keyboard.
    QString MessageToSend();
    // Before an end that would throw away what the operator typed and did
    // not send: asks, in a box on `owner`; true when nothing is lost or the
    // operator agrees.
    bool MayDiscardDraft(QWidget *owner);
    // "/" and the start of a canned answer's title in the input offers the
    // answers that match, in place; Enter puts the chosen one in instead.
    void SetCannedAnswers(std::function<const TTitleDataClass *()> source);
    QCompleter *CannedCompleter() const { return m_canned; }
    // What this chat fills a canned answer's placeholders with.
    void SetPlaceholderValues(std::function<TPlaceholderValues()> source);
    // Replaces the input from `from` to the caret with `answer`, its
    // placeholders filled; the first one left unfilled is selected, for the
    // operator to type over.
    void PutAnswer(int from, const QString &answer);

    // The spelling check of the input: a dictionary (null: none, the box as
    // it always was). Left alone, the pane follows the SpellLanguage setting.
    void UseSpellChecker(ISpellChecker *checker);
    TSpellHighlighter *SpellHighlighter() const { return m_spell; }
    // The visitor's and operator's names, never marked.
    void SetSpellNames(const QStringList &names);
    // The input's pop-up menu for the text position `position`: suggestions,
    // "Add to dictionary" and "Ignore" over a misspelt word, then the usual
    // edit commands. The caller owns it.
    QMenu *InputMenu(int position);
    // Follows the SpellLanguage and LineTimes settings when they changed.
    void FollowSettings();
    // "10:42" before every line of the conversation, or not.
    void ShowLineTimes(bool on);
    // "Remote user still typing…" before a close: true when the operator
    // closes anyway.
    static bool CloseWhileRemoteTypes(QWidget *owner);
    void ClearInput();
    // Replaces what the operator typed, the caret at its end.
    void SetInputText(const QString &text);
    // True when the key was taken: Enter sends when so set, and then
    // Shift+Enter breaks the line.
    bool InputTextKeyPress(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    // Characters in the input box that the wire cannot carry.
    int UncarriedInInput() const { return m_uncarriedInInput; }
    // Renews the input label after the Enter setting changed.
    void UpdateInputLabel();
    // A button for the row beside the sound button.
    void AddToggle(QToolButton *button);
    // The keyboard into the message box while it takes text, or to the
    // end-of-chat question that waits over the chat.
    void TakeKeyboard();
    // The keys are in another part of the chat (its tools panel).
    bool KeysInChatBesidePane() const;

    void SetStatusPanel(int panel, const QString &text);
    QString StatusPanelText(int panel) const;
    void ShowClock(quint32 seconds);

    // Attention: flashing while the window is not active, and the chat sound.
    void StartFlashing();
    void StopFlashing();
    bool Flashing() const { return FlashTimer.isActive(); }
    void FlashTimerTimer();
    bool SoundOn() const { return m_soundOn; }
    void SoundSpeedButtonClick();
    void PlayChatSound();

    void SelectAll1Click();
    void CopySelected1Click();

    QTextEdit *ChatOutPutText = nullptr;
    QToolButton *NewMessagesMarker = nullptr;
    QPlainTextEdit *InputText = nullptr;
    QPushButton *SendMsgBtn = nullptr;
    QPushButton *EndChatBtn = nullptr; // and Ctrl+W
    QLabel *Label1 = nullptr;
    QToolButton *SoundSpeedButton = nullptr;
    QStatusBar *StatusBar = nullptr;
    QMenu *ChatPopUp = nullptr;
    QTimer FlashTimer;

signals:
    void SendRequested();
    void EndRequested();
    // The input's text changed (after the length limit was applied).
    void InputChanged(bool empty);
    // A canned answer chosen after "/" was put into the input.
    void CannedAnswerPut();

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void OnInputTextChanged();
    void OfferCannedAnswers();
    void PutCannedAnswer(const QString &title);
    // The "/word" just before the caret: its start, or -1.
    int CannedPrefixStart(QString *word) const;
    void MarkUncarried(const QString &text);
    bool ConversationAtBottom() const;
    void ShowInputMenu(int position, const QPoint &globalAt);
    void PlaceNewMessagesMarker();
    void QueueLinePiece();
    bool AddLinePiece();

    QTextCharFormat m_baseFormat;
    QLabel *m_statusPanels[3] = {};
    QHBoxLayout *m_toggles = nullptr;
    TWavSound PlayWavInChat; // its file read on the first play
    QString m_chatSoundPath;
    int m_flashTicks = 0;
    int m_uncarriedInInput = 0;
    bool m_soundOn = true;
    bool m_trimmingInput = false;
    QCompleter *m_canned = nullptr;
    std::function<const TTitleDataClass *()> m_cannedSource;
    std::function<TPlaceholderValues()> m_placeholders;
    TSpellHighlighter *m_spell = nullptr;
    std::optional<QString> m_spellSetting; // the SpellLanguage last followed
    QStringList m_spellNames;
    bool m_followNextLine = false;
    // Long lines whose later pieces are still to be shown, one piece per pass
    // of the event loop; each at the end of what it has shown so far.
    struct TLinePieces {
        QTextCursor at;
        QStringList rest;
        QColor color;
        bool emptyLineAfter = false;
    };
    std::deque<TLinePieces> m_linePieces;
    bool m_pieceQueued = false;
};

} // namespace velmora
