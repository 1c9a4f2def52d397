#pragma once
// TMailBuff: the transcript queue. It hands queued transcripts one at a time
// to the SMTP client, drives the conversation step by step, reports failures
// and closes the connection about half a second after the queue runs empty.
//
// It runs on the event loop of the thread that created it (the GUI thread),
// with timers where the conversation pauses; nothing in it blocks. The
// dialogue goes to a widget-free line collector; showing it is the window's
// business. Failure boxes go through the message-box seam.
//
// With an outbox the queue survives the program: it starts with what the
// outbox holds, and a transcript leaves the outbox on the server's 250 to its
// message, so a crash after it never sends it twice (a crash before it sends
// it again with the same Message-ID). A refusal for good (5xx to RCPT TO or
// DATA, but a 552 to RCPT TO, which is a full mailbox) moves it to the
// outbox's failed folder with the answer and the queue goes on; a recipient
// refused while others took it gets a copy of its own there instead. Any
// other failure keeps it (for the recipients still due) and retries by itself
// after 1, 2, 5, 10 and then every 30 retry units (minutes), telling the
// operator once per outage. Failures are told without a modal box, so nothing
// ever waits for the operator; a failed connection is left without waiting
// for the answer to its QUIT.
//
//   TMailBuff mail(&outbox, log);
//   mail.NewSession(Settings());          // at start and at every connect
//   mail.AddMail(record);                 // from the transcript composition
//   mail.WaitingCount();                  // for the exit question
#include "mail/MailLineCollector.h"
#include "mail/MailRecord.h"
#include "mail/SmtpCli.h"

#include <QObject>
#include <QTimer>

#include <deque>

namespace velmora {

struct TSettings;
class TLogFile;
class TOutbox;

class TMailBuff : public QObject {
    Q_OBJECT
public:
    explicit TMailBuff(TOutbox *outbox = nullptr, TLogFile *log = nullptr, QObject *parent = nullptr);
    // Queued records are discarded; their attachment files stay on disk.
    ~TMailBuff() override;

    void NewSession(const TSettings &settings);
    void AddMail(TMailRecord record);
    int WaitingCount() const { return int(m_queue.size()); }

    TMailLineCollector &DebugLines() { return m_lines; }
    TSmtpCli &Client() { return m_client; }
    const std::deque<TMailRecord> &Queue() const { return m_queue; }
    // The last failure's text, until a mail gets through.
    const QString &LastError() const { return m_lastError; }
    // Transcripts that could not go this run (set aside, or never sendable),
    // and why the last of them did not.
    int NotSentCount() const { return m_notSent; }
    const QString &LastNotSent() const { return m_lastNotSent; }
    // A transcript that went astray before the queue (the caller's address
    // was no address): logged, and shown beside the waiting ones; counted
    // when it stays unsent.
    void NoteAddressProblem(const QString &text, bool notSent);
    bool RetryPending() const { return m_retryTimer.isActive(); }
    // One unit of the retry back-off; a minute, shorter in tests.
    void SetRetryUnitMs(int ms) { m_retryUnitMs = ms; }

signals:
    void WaitingChanged(int count);

private:
    void Kick();
    void SendMail();
    void RequestDone(TSmtpRequest request, quint16 error);
    void Delivered();
    void DropHead();
    void HandleFailure(TSmtpRequest request, quint16 error);
    // The recipients refused at RCPT TO: a copy for those refused for good is
    // set aside (and told), those refused for now stay at the head alone.
    // Returns whether any are left to try again.
    bool SortOutRefused(bool nobodyTookIt);
    void RetryLater(const QString &text);
    void EndFailedTransaction();
    void Next();
    void Tell(const QString &text);
    // Where a transcript set aside went, for the notice.
    QString KeptWhere() const;
    QString NotSentNote() const;
    // Moves the head to the failed folder (or drops it without an outbox).
    void SetAsideHead(const QString &answer);
    void RetryTimerTimer();
    void GoIdle();
    void IdleQuit();
    bool GetData(int lineNumber, int maxLength, QString &line) const;

    TOutbox *m_outbox;
    TLogFile *m_log;
    TMailLineCollector m_lines;
    TSmtpCli m_client;
    std::deque<TMailRecord> m_queue;
    bool m_sending = false;  // the head is on its way
    bool m_errorStop = false;
    QTimer m_idleTimer;      // QUIT half a second after the queue ran empty
    QTimer m_retryTimer;     // the next try after a temporary failure
    QList<TSmtpRefusal> m_refused; // of the head's recipients, at its RCPT TO
    int m_retryUnitMs = 60000;
    int m_retries = 0;       // temporary failures since the last delivery
    bool m_outage = false;   // the operator has been told about this outage
    QString m_lastError;
    int m_notSent = 0;
    QString m_lastNotSent;
};

} // namespace velmora
