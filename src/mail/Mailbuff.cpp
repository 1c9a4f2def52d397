#include "mail/Mailbuff.h"

#include "archive/ArchiveRecorder.h"
#include "config/Settings.h"
#include "diag/Boxes.h"
#include "diag/Logdata.h"
#include "diag/SafeText.h"
#include "mail/MailText.h"
#include "mail/Outbox.h"

#include <QDateTime>
#include <QFile>

namespace velmora {

namespace {

// Retry units (minutes) after the 1st, 2nd, ... temporary failure in a row.
constexpr int kBackOff[] = {1, 2, 5, 10, 30};

// No later try changes such a refusal. A 552 to RCPT TO is a full mailbox,
// which RFC 5321 asks to be taken as temporary.
bool RefusedForGood(int code, TSmtpRequest request)
{
    return code >= 500 && code <= 599 && !(code == 552 && request == smtpRcptTo);
}

// After a 501 to RCPT TO the address is most likely mistyped.
QString BadAddressHint(const QString &whom, const QString &kept)
{
    return QStringLiteral("\n\nCheck your client mail address, its probably not\nlegal. Could not send mail transcript")
           + whom + QStringLiteral(", ") + kept + QStringLiteral(" !!!");
}

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
    m_idleTimer.setTimerType(Qt::PreciseTimer); // not a few percent early: the mail before it has just gone
    m_idleTimer.setInterval(500);
    connect(&m_idleTimer, &QTimer::timeout, this, &TMailBuff::IdleQuit);
    m_retryTimer.setSingleShot(true);
    connect(&m_retryTimer, &QTimer::timeout, this, &TMailBuff::RetryTimerTimer);
    if (m_outbox)
        for (TMailRecord &r : m_outbox->Load())
            m_queue.push_back(std::move(r));
}

TMailBuff::~TMailBuff()
{
    m_idleTimer.stop();
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
    if (m_sending)
        return; // the running step comes back here when it ends
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
    TMailRecord &head = m_queue.front();
    if (!IsPlausibleMessageId(head.MessageId))
        head.MessageId = MessageIdentifier(QDateTime::currentDateTimeUtc(), LocalHostName());
    m_client.FromName = head.FromAddr;
    m_client.HdrFrom = head.FromAddr;
    m_client.HdrTo = head.ToAddr;
    m_client.HdrReplyTo = head.ReplyToAddr;
    m_client.HdrCc = head.CcAddr;
    m_client.HdrSubject = head.Subject;
    m_client.HdrMessageId = head.MessageId;
    m_client.EmailFiles.clear();
    if (!head.AttachFile.isEmpty())
        m_client.EmailFiles.append({head.AttachFile, head.AttachName});
    m_client.RcptName.clear();
    if (head.Recipients.isEmpty())
        m_client.RcptNameAdd(head.ToAddr, head.CcAddr, QString());
    else
        m_client.RcptName = head.Recipients;
    m_refused.clear();
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
        m_refused = m_client.RefusedRecipients();
        ok = m_client.Data();
        break;
    case smtpData:
        Delivered();
        return;
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
        SetAsideHead(why);
        EndFailedTransaction();
        Tell(why + QStringLiteral(" could not send mail, check parameters") + NotSentNote());
    }
}

void TMailBuff::Next()
{
    if (m_queue.empty() || m_errorStop)
        GoIdle();
    else
        QTimer::singleShot(50, this, &TMailBuff::Kick);
}

void TMailBuff::EndFailedTransaction()
{
    // The server still holds the failed transaction: the next mail goes on a
    // fresh connection, never behind it with a MAIL FROM of its own. The
    // answer to the QUIT is not waited for.
    m_client.Hangup();
    Next();
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

QString TMailBuff::KeptWhere() const
{
    return m_outbox ? QStringLiteral("it is kept in ") + m_outbox->FailedFolder() : QStringLiteral("it is not kept");
}

QString TMailBuff::NotSentNote() const { return QStringLiteral("\n\nThe transcript was not sent; ") + KeptWhere(); }

void TMailBuff::SetAsideHead(const QString &answer)
{
    if (m_queue.empty())
        return;
    const TMailRecord head = std::move(m_queue.front());
    m_queue.pop_front();
    if (TArchiveRecorder *recorder = ArchiveRecorder())
        recorder->UpdateTranscriptFate(head.RecordFile, TTranscriptFate{archive::Fate::SetAside, 0, {}, answer, {}});
    if (m_outbox)
        m_outbox->MoveToFailed(head, answer);
    else if (!head.AttachFile.isEmpty())
        QFile::remove(head.AttachFile);
    ++m_notSent;
    m_lastNotSent = answer;
    emit WaitingChanged(WaitingCount());
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

bool TMailBuff::SortOutRefused(bool nobodyTookIt)
{
    QStringList forGood, forNow, goodAnswers, nowAnswers;
    int goodCode = 0;
    for (const TSmtpRefusal &r : m_refused) {
        if (RefusedForGood(r.code, smtpRcptTo)) {
            forGood << r.address;
            goodAnswers << r.text;
            goodCode = goodCode ? goodCode : r.code;
        } else {
            forNow << r.address;
            nowAnswers << r.text;
        }
    }
    TMailRecord &head = m_queue.front();
    const QString subject = OneLine(head.Subject);
    const auto logNotSent = [&](const QStringList &whom, const QStringList &answers) {
        if (m_log && !nobodyTookIt && !whom.isEmpty())
            m_log->AddLine(subject + QStringLiteral(" not sent to ") + OneLine(whom.join(QStringLiteral(", ")))
                           + QStringLiteral(": ") + OneLine(answers.join(QStringLiteral(" / "))));
    };
    logNotSent(forGood, goodAnswers);
    logNotSent(forNow, nowAnswers);
    if (!forGood.isEmpty()) {
        const QString answer = goodAnswers.join(QLatin1Char('\n'));
        QString text = QStringLiteral("Error ") + answer;
        if (nobodyTookIt && forNow.isEmpty()) {
            SetAsideHead(answer);
            text += goodCode == 501 ? BadAddressHint(QString(), KeptWhere())
                                    : NotSentNote();
            Tell(text);
            return false;
        }
        // The others have it, or may have it later: only these get a copy.
        const QString whom = QStringLiteral(" to ") + forGood.join(QStringLiteral(", "));
        const QString kept = m_outbox && m_outbox->SetAsideCopy(head, forGood, answer)
                                 ? QStringLiteral("a copy is kept in ") + m_outbox->FailedFolder()
                                 : QStringLiteral("no copy is kept");
        text += goodCode == 501 ? BadAddressHint(whom, kept)
                                : QStringLiteral("\n\nThe transcript was not sent") + whom + QStringLiteral("; ") + kept;
        ++m_notSent;
        m_lastNotSent = answer;
        Tell(text);
    }
    if (forNow.isEmpty())
        return false;
    head.Recipients = forNow;
    if (m_outbox)
        m_outbox->Update(head);
    m_lastError = nowAnswers.join(QLatin1Char('\n'));
    return true;
}

void TMailBuff::Delivered()
{
    m_sending = false;
    const TMailRecord &head = m_queue.front();
    QStringList accepted = m_client.RcptName;
    QStringList refusals;
    for (const TSmtpRefusal &r : m_refused) {
        accepted.removeOne(r.address);
        refusals << r.text;
    }
    const QString to = accepted.join(QStringLiteral(", "));
    if (m_log)
        m_log->AddLine(OneLine(head.Subject) + QStringLiteral(" sent to ") + OneLine(to));
    m_outage = false;
    m_retries = 0;
    m_retryTimer.stop();
    m_lastError.clear();
    if (TArchiveRecorder *recorder = ArchiveRecorder())
        recorder->UpdateTranscriptFate(head.RecordFile, TTranscriptFate{archive::Fate::Sent, 0, to,
                                                                        refusals.join(QLatin1Char('\n')), {}});
    // On the 250 itself: from here on a crash must not send it again.
    if (m_refused.isEmpty() || !SortOutRefused(false)) {
        DropHead();
        Next();
        return;
    }
    RetryLater(QStringLiteral("Error ") + m_lastError);
}

void TMailBuff::GoIdle()
{
    if (!m_idleTimer.isActive())
        m_idleTimer.start();
}

void TMailBuff::IdleQuit()
{
    if (m_sending || !m_client.Connected())
        return;
    m_client.Hangup();
}

void TMailBuff::RetryTimerTimer()
{
    m_errorStop = false;
    Kick();
}

void TMailBuff::RetryLater(const QString &text)
{
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

    if (request == smtpRcptTo && !m_queue.empty()
        && m_client.RefusedRecipients().size() == m_client.RcptName.size()) {
        // Every recipient refused: each gets what its own answer calls for.
        m_refused = m_client.RefusedRecipients();
        if (SortOutRefused(true))
            RetryLater(QStringLiteral("Error ") + m_lastError);
        return; // else set aside, and the queue goes on
    }
    if (RefusedForGood(replyCode, request) && request == smtpData) {
        // Refused for good: set aside, and the queue goes on behind it.
        SetAsideHead(message);
        Tell(text + NotSentNote());
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
    RetryLater(text);
}

} // namespace velmora
