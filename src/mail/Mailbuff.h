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
//   TMailBuff mail;
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

class TMailBuff : public QObject {
    Q_OBJECT
public:
    explicit TMailBuff(QObject *parent = nullptr);
    // Queued records are discarded; their attachment files stay on disk.
    ~TMailBuff() override;

    void NewSession(const TSettings &settings);
    void AddMail(TMailRecord record);
    int WaitingCount() const { return int(m_queue.size()); }

    TMailLineCollector &DebugLines() { return m_lines; }
    TSmtpCli &Client() { return m_client; }
    bool ErrorStop() const { return m_errorStop; }
    const std::deque<TMailRecord> &Queue() const { return m_queue; }

signals:
    void WaitingChanged(int count);

private:
    void Kick();
    void SendMail();
    void RequestDone(TSmtpRequest request, quint16 error);
    void CurrentDone();
    void DropHead();
    void ReportError(TSmtpRequest request, quint16 error);
    void GoIdle();
    void IdleQuit();
    bool GetData(int lineNumber, int maxLength, QString &line) const;

    TMailLineCollector m_lines;
    TSmtpCli m_client;
    std::deque<TMailRecord> m_queue;
    bool m_sending = false;  // the head is on its way
    bool m_quitting = false; // a QUIT is outstanding
    bool m_errorStop = false;
    QTimer m_idleTimer;      // QUIT half a second after the queue ran empty
    QTimer m_doneTimer;      // the short settle after a delivered message
};

} // namespace velmora
