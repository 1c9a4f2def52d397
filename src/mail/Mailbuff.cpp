#include "mail/Mailbuff.h"

#include "archive/ArchiveRecorder.h"
#include "config/Settings.h"
#include "diag/Boxes.h"
#include "diag/Logdata.h"
#include "diag/SafeText.h"
#include "mail/Outbox.h"

#include <QFile>

namespace velmora {

namespace {

// Retry units (minutes) after the 1st, 2nd, ... temporary failure in a row.
constexpr int kBackOff[] = {1, 2, 5, 10, 30};

} // namespace

TMailBuff::TMailBuff(TOutbox *outbox, TLogFile *log, QObject *parent)
    : QObject(parent), m_outbox(outbox), m_log(log)
{
    m_client.ContentType = smtpPlainText;
    m_client.CharSet = QStringLiteral("iso-8859-1");
    m_client.LocalAddr = QStringLiteral("0.0.0.0");
    m_client.Port = QStringLiteral("smtp");
    m_client.OwnHeaders = false;
    m_client.OnDisplay = [this](const QString &text) { m_lines.AddDebugLine(text); };
    m_client.OnGetData = [this](int k, int max, QString &line) { return GetData(k, max, line); };
    m_client.OnRequestDone = [this](TSmtpRequest r, quint16 e) { RequestDone(r, e); };
    m_idleTimer.setSingleShot(true);
    m_idleTimer.setInterval(500);
    connect(&m_idleTimer, &QTimer::timeout, this, &TMailBuff::IdleQuit);
    m_doneTimer.setSingleShot(true);
    m_doneTimer.setInterval(100);
    connect(&m_doneTimer, &QTimer::timeout, this, &TMailBuff::CurrentDone);
    m_retryTimer.setSingleShot(true);
    connect(&m_retryTimer, &QTimer::timeout, this, &TMailBuff::RetryTimerTimer);
    if (m_outbox)
        for (TMailRecord &r : m_outbox->Load())
            m_queue.push_back(std::move(r));
}

TMailBuff::~TMailBuff()
{
    m_idleTimer.stop();
    m_doneTimer.stop();
    m_retryTimer.stop();
    m_client.OnRequestDone = nullptr;
    m_client.QuitAndClose();
}

void TMailBuff::NewSession(const TSettings &s)
{
    m_client.Host = s.SMTP_Server;
    m_client.SignOn = s.SMTP_SignOn;
    m_client.Username = s.MailUserID;
    m_client.Password = s.MailPassword;
    m_client.Port = s.SMTP_Port > 0 && s.SMTP_Port < 65536 ? QString::number(s.SMTP_Port) : QStringLiteral("smtp");
    // A value the console does not know asks for protection all the same:
    // never fall back to plain text because of a typing error.
    m_client.Security = s.SMTP_Security == 0   ? smtpSecurityNone
                        : s.SMTP_Security == 2 ? smtpSecurityTls
                                               : smtpSecurityStartTls;
    m_client.CaFile = s.SMTP_CAFile;
    if (s.MailAuthCheck) {
        switch (s.AuthType) {
        case 0: m_client.AuthType = smtpAuthAutoSelect; break;
        case 1: m_client.AuthType = smtpAuthPlain; break;
        case 2: m_client.AuthType = smtpAuthLogin; break;
        case 3: m_client.AuthType = smtpAuthCramMD5; break;
        default: break; // another value leaves the choice as it was
        }
    } else {
        m_client.AuthType = smtpAuthNone;
    }
    m_lines.SetKeeping(s.DebugMail);
    if (s.DebugMail) {
        m_lines.RequestShow();
        m_lines.ClearLines();
        m_lines.AddDebugLine(QStringLiteral("Start new session"));
    }
    m_errorStop = false;
    m_outage = false; // the operator starts afresh: a failure is told again
    if (!m_queue.empty())
        Kick();
}

void TMailBuff::AddMail(TMailRecord record)
{
    m_queue.push_back(std::move(record));
    m_errorStop = false;
    emit WaitingChanged(WaitingCount());
    Kick();
}

void TMailBuff::Kick()
{
    if (m_sending || m_quitting)
        return; // the running step or QUIT comes back here when it ends
    if (m_queue.empty() || m_errorStop) {
        GoIdle();
        return;
    }
    m_idleTimer.stop();
    m_sending = true;
    SendMail();
}

void TMailBuff::SendMail()
{
    const TMailRecord &head = m_queue.front();
    m_client.FromName = head.FromAddr;
    m_client.HdrFrom = head.FromAddr;
    m_client.HdrTo = head.ToAddr;
    m_client.HdrReplyTo = head.ReplyToAddr;
    m_client.HdrCc = head.CcAddr;
    m_client.HdrSubject = head.Subject;
    m_client.EmailFiles.clear();
    if (!head.AttachFile.isEmpty())
        m_client.EmailFiles.append({head.AttachFile, head.AttachName});
    m_client.RcptName.clear();
    m_client.RcptNameAdd(head.ToAddr, head.CcAddr, QString());
    const bool started = m_client.Connected() ? m_client.MailFrom() : m_client.Connect();
    if (!started) {
        // Only a step still outstanding refuses; try again when it is over.
        m_sending = false;
        QTimer::singleShot(50, this, &TMailBuff::Kick);
    }
}

bool TMailBuff::GetData(int lineNumber, int maxLength, QString &line) const
{
    if (m_queue.empty() || lineNumber < 1 || lineNumber > m_queue.front().MailBody.size())
        return false;
    line = m_queue.front().MailBody[lineNumber - 1];
    if (line.size() >= maxLength)
        line.truncate(maxLength - 1);
    return true;
}

void TMailBuff::RequestDone(TSmtpRequest request, quint16 error)
{
    if (request == smtpQuit) {
        m_quitting = false;
        if (!m_queue.empty() && !m_errorStop)
            Kick();
        return;
    }
    if (!m_sending)
        return;
    if (error != 0) {
        m_sending = false;
        HandleFailure(request, error);
        EndFailedTransaction();
        return;
    }
    bool ok = true;
    switch (request) {
    case smtpConnect:
        ok = m_client.AuthType != smtpAuthNone ? m_client.Ehlo() : m_client.Helo();
        break;
    case smtpHelo:
    case smtpAuth:
        ok = m_client.MailFrom();
        break;
    case smtpEhlo:
        ok = m_client.Auth();
        break;
    case smtpMailFrom:
        ok = m_client.RcptTo();
        break;
    case smtpRcptTo:
        ok = m_client.Data();
        break;
    case smtpData:
        m_doneTimer.start();
        break;
    default:
        break;
    }
    if (!ok) {
        // A record without a single readable recipient is the only refusal
        // here: no retry can help it, so it is set aside like a refusal for good.
        m_sending = false;
        const QString why = m_client.RefusalText();
        m_lines.AddDebugLine(QStringLiteral("> (") + why + QLatin1Char(')'));
        m_lastError = why;
        const QString text = SetAsideHead(why, why + QStringLiteral(" could not send mail, check parameters"));
        EndFailedTransaction();
        Tell(text);
    }
}

void TMailBuff::EndFailedTransaction()
{
    // The server still holds the failed transaction: the next mail goes on a
    // fresh connection, never behind it with a MAIL FROM of its own.
    if (m_client.Connected()) {
        m_quitting = m_client.Quit();
        if (!m_quitting)
            m_client.Abort();
    }
    // After a mail set aside the queue goes on (once the QUIT is over).
    if (!m_quitting && !m_errorStop && !m_queue.empty())
        QTimer::singleShot(50, this, &TMailBuff::Kick);
}

void TMailBuff::Tell(const QString &text)
{
    // Never a modal box: nobody may be at the desk, and the transcripts
    // behind this one must not wait for a click.
    ShowNotice(text, QStringLiteral(" SMTP Error !. "), BoxIcon::Error);
}

void TMailBuff::NoteAddressProblem(const QString &text, bool notSent)
{
    if (m_log)
        m_log->AddLine(OneLine(text));
    if (notSent) {
        ++m_notSent;
        m_lastNotSent = text;
    }
    m_lastError = text;
    emit WaitingChanged(WaitingCount());
}

QString TMailBuff::SetAsideHead(const QString &answer, QString text)
{
    if (m_queue.empty())
        return text;
    const TMailRecord head = std::move(m_queue.front());
    m_queue.pop_front();
    if (TArchiveRecorder *recorder = ArchiveRecorder())
        recorder->UpdateTranscriptFate(head.RecordFile, TTranscriptFate{archive::Fate::SetAside, 0, {}, answer, {}});
    if (m_outbox) {
        m_outbox->MoveToFailed(head, answer);
        text += QStringLiteral("\n\nThe transcript was not sent; it is kept in ") + m_outbox->FailedFolder();
    } else if (!head.AttachFile.isEmpty()) {
        QFile::remove(head.AttachFile);
    }
    ++m_notSent;
    m_lastNotSent = answer;
    emit WaitingChanged(WaitingCount());
    return text;
}

void TMailBuff::DropHead()
{
    if (m_queue.empty())
        return;
    const TMailRecord head = std::move(m_queue.front());
    m_queue.pop_front();
    // A failing deletion is not reported.
    if (m_outbox)
        m_outbox->Remove(head);
    else if (!head.AttachFile.isEmpty())
        QFile::remove(head.AttachFile);
    emit WaitingChanged(WaitingCount());
}

void TMailBuff::CurrentDone()
{
    if (!m_queue.empty() && m_log) {
        const TMailRecord &head = m_queue.front();
        m_log->AddLine(OneLine(head.Subject) + QStringLiteral(" sent to ") + OneLine(m_client.RcptName.join(QStringLiteral(", "))));
    }
    m_outage = false;
    m_retries = 0;
    m_retryTimer.stop();
    m_lastError.clear();
    if (TArchiveRecorder *recorder = ArchiveRecorder(); recorder && !m_queue.empty())
        recorder->UpdateTranscriptFate(m_queue.front().RecordFile,
                                       TTranscriptFate{archive::Fate::Sent, 0, m_client.RcptName.join(QStringLiteral(", ")), {}, {}});
    DropHead();
    m_sending = false;
    if (m_queue.empty() || m_errorStop)
        GoIdle();
    else
        QTimer::singleShot(50, this, &TMailBuff::Kick);
}

void TMailBuff::GoIdle()
{
    if (!m_idleTimer.isActive())
        m_idleTimer.start();
}

void TMailBuff::IdleQuit()
{
    if (m_sending || m_quitting || !m_client.Connected())
        return;
    // Refused when a step is still outstanding: then nothing is done.
    m_quitting = m_client.Quit();
}

void TMailBuff::RetryTimerTimer()
{
    m_errorStop = false;
    Kick();
}

void TMailBuff::HandleFailure(TSmtpRequest request, quint16 error)
{
    QString message = m_client.ErrorMessage();
    if (message.isEmpty())
        message = QStringLiteral("SMTP network error ") + QString::number(error);
    const bool numeric = message.size() >= 3 && message[0].isDigit() && message[1].isDigit() && message[2].isDigit();
    QString text = numeric ? QStringLiteral("Error ") + message
                           : message + QStringLiteral(" could not send mail, check parameters");
    // What the server answered at this step, not what the text looks like:
    // time-outs, network errors and our own texts are always worth a retry.
    const int replyCode = m_client.FailedReplyCode();
    m_lastError = message;
    if (m_log && !m_queue.empty())
        m_log->AddLine(OneLine(m_queue.front().Subject) + QStringLiteral(" not sent to ")
                       + OneLine(m_client.RcptName.join(QStringLiteral(", "))) + QStringLiteral(": ") + OneLine(message));

    if (replyCode == 501 && request == smtpRcptTo) {
        text += QStringLiteral("\n\nCheck your client mail address, its probably not\nlegal. Could not send mail "
                               "transcript deleting  it !!!");
        ++m_notSent;
        m_lastNotSent = message;
        DropHead();
        m_errorStop = true;
        Tell(text);
        return;
    }
    if (replyCode >= 500 && replyCode <= 599 && (request == smtpRcptTo || request == smtpData)) {
        // Refused for good: set aside, and the queue goes on behind it.
        text = SetAsideHead(message, text);
        Tell(text);
        return;
    }
    if (replyCode == 504 && (request == smtpEhlo || request == smtpAuth)) {
        text += QStringLiteral("\n\nYour Mail server supports Only the following authentication \nmechanisms, change "
                               "your setup to use one of these:\n\n");
        for (const QString &name : m_client.AuthMechanisms())
            text += QStringLiteral("AUTH ") + name + QLatin1Char('\n');
    } else if (replyCode == 535 && request == smtpAuth) {
        text += QStringLiteral("\n\nCheck your password and/or user-ID settings !.");
    }
    // Kept at the head; tried again by itself, and on the next trigger.
    m_errorStop = true;
    m_retryTimer.start(m_retryUnitMs * kBackOff[std::min<int>(m_retries, std::size(kBackOff) - 1)]);
    ++m_retries;
    emit WaitingChanged(WaitingCount());
    if (!m_outage) {
        m_outage = true;
        Tell(text);
    }
}

} // namespace velmora
