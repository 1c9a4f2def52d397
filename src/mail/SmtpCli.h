#pragma once
// TSmtpCli: an asynchronous SMTP client on one QSslSocket, driven by the
// event loop of the thread that created it. Every operation starts one step
// of the conversation and returns at once; the end of the step comes through
// OnRequestDone (always from the event loop, never from inside the call that
// started it). It builds the message itself - headers, the letter as a
// text part, each file as a base64 attachment - and streams it a line at a
// time, so neither the letter nor a file is ever held whole. Every line sent
// and received is shown through OnDisplay.
//
// What it does not do: queue mails, retry, or show anything; that is the
// transcript queue's business (TMailBuff).
#include "mail/SmtpReply.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QSslError>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>

class QSslSocket;

namespace velmora {

enum TSmtpRequest {
    smtpConnect, smtpHelo, smtpMailFrom, smtpVrfy, smtpRcptTo, smtpData, smtpQuit,
    smtpRset, smtpOpen, smtpMail, smtpEhlo, smtpAuth, smtpCustom
};

enum TSmtpState {
    smtpReady, smtpDnsLookup, smtpConnecting, smtpConnected, smtpInternalReady,
    smtpWaitingBanner, smtpWaitingResponse, smtpAbort
};

enum TSmtpAuthType {
    smtpAuthNone, smtpAuthPlain, smtpAuthLogin, smtpAuthCramMD5, smtpAuthCramSha1, smtpAuthAutoSelect
};

enum TSmtpContentType { smtpPlainText, smtpHtml };

// How the connection is protected: 0 none, 1 STARTTLS (required, never a
// fall-back to plain text), 2 TLS from the first byte.
enum TSmtpSecurity { smtpSecurityNone = 0, smtpSecurityStartTls = 1, smtpSecurityTls = 2 };

// Error numbers of the component's own, besides SMTP reply codes and socket
// errors (Windows Sockets numbers).
inline constexpr quint16 kSmtpOwnError = 500;
inline constexpr quint16 kSmtpConnectionClosed = 10004;
inline constexpr quint16 kSmtpTimedOut = 10060;

// A recipient the server would not take at RCPT TO, and its answer.
struct TSmtpRefusal {
    QString address;
    int code = 0;
    QString text;
};

struct TSmtpAttachment {
    QString path; // the file on disk
    QString name; // the name the mail gives it; empty: the file's own name
};

class TSmtpCli : public QObject {
    Q_OBJECT
public:
    explicit TSmtpCli(QObject *parent = nullptr);
    ~TSmtpCli() override;

    // --- properties -----------------------------------------------------
    QString Host;
    QString Port = QStringLiteral("smtp"); // service name or number
    QString LocalAddr = QStringLiteral("0.0.0.0");
    QString SignOn; // HELO/EHLO name; empty: the local host name
    QString Username;
    QString Password;
    TSmtpAuthType AuthType = smtpAuthNone;
    QString FromName; // envelope sender
    QStringList RcptName;
    QString HdrFrom, HdrTo, HdrCc, HdrReplyTo, HdrSubject, HdrReturnPath, HdrSender;
    // The Message-ID without its brackets; empty or unusable: a new one.
    QString HdrMessageId;
    QString CharSet = QStringLiteral("iso-8859-1");
    TSmtpContentType ContentType = smtpPlainText;
    bool OwnHeaders = false;
    QList<TSmtpAttachment> EmailFiles;
    TSmtpSecurity Security = smtpSecurityNone;
    QString CaFile; // extra trusted certificates (PEM) besides the system's
    // Each step fails with kSmtpTimedOut when the server stays silent this long.
    int StepTimeoutMs = 60000;
    // A QUIT step is not worth waiting for: after this long the connection
    // is closed and the step ends without an error.
    int QuitTimeoutMs = 3000;

    // --- events -----------------------------------------------------------
    std::function<void(const QString &)> OnDisplay;
    // Asks for letter line `lineNumber` (from 1), at most `maxLength` - 1
    // characters; returns false when there is no such line.
    std::function<bool(int lineNumber, int maxLength, QString &line)> OnGetData;
    std::function<void(TSmtpRequest request, quint16 error)> OnRequestDone;

    // --- operations: false when refused (RefusalText says why) ------------
    bool Connect();
    bool Helo();
    bool Ehlo();
    bool Auth();
    bool MailFrom();
    // Asks for every recipient; succeeds when the server took at least one
    // (RefusedRecipients tells which it did not), else fails with the first
    // refusal.
    bool RcptTo();
    bool Data();
    bool Quit();
    // Closes the connection at once, without QUIT and without an event.
    void Abort();
    // Says QUIT and closes without waiting for the answer, which changes
    // nothing for the mail before it; no event. The next Connect may follow
    // at once.
    void Hangup();
    // For the end of the program: a QUIT sent without waiting for the answer
    // when no step is outstanding, then the connection closed; no event.
    void QuitAndClose();

    // Adds the addresses of the three lists to RcptName.
    void RcptNameAdd(const QString &to, const QString &cc, const QString &bcc);

    // --- read-only state ----------------------------------------------------
    // The failure of the last step: the server's whole reply (its lines
    // joined by LF, at most kMaxReplyText characters) or a text of our own.
    const QString &ErrorMessage() const { return m_errorMessage; }
    // The reply code the server sent to end the last failed step; 0 when no
    // reply of the server ended it (time-out, network error, a check of our
    // own). Only this tells a refusal from a failure worth retrying.
    int FailedReplyCode() const { return m_failedReply; }
    const QString &LastResponse() const { return m_lastResponse; }
    // False as soon as the peer has closed: such a connection is never used again.
    bool Connected() const;
    const QStringList &AuthMechanisms() const { return m_authMechanisms; }
    TSmtpState State() const { return m_state; }
    const QString &RefusalText() const { return m_refusal; }
    const QList<TSmtpRefusal> &RefusedRecipients() const { return m_refused; }
    static constexpr int kGetDataBuffer = 1023;
    static constexpr int kMaxReplyText = 2048;

private:
    using ReplyHandler = std::function<void(const TSmtpReplyLine &, const QString &)>;

    bool CanStart(bool needConnection);
    void Begin(TSmtpRequest request);
    void Finish(quint16 error);
    void Fail(quint16 error, const QString &text);
    void SetError(const QString &text);
    void SendCommand(const QString &command, ReplyHandler onReply, const QString &shown = QString());
    void SendRaw(const QByteArray &line, const QString &shown);
    // QUIT written when the connection can take it; true when it was.
    bool SayQuit();
    // Forgets the step under way, without an event.
    void DropStep();
    void Display(const QString &line);
    QString SignOnName() const;
    quint16 PortNumber() const;

    void MakeSocket();
    void SocketConnected();
    void SocketEncrypted();
    void SocketReadyRead();
    void SocketDisconnected();
    void SocketError();
    void SslErrors(const QList<QSslError> &errors);
    void StepTimedOut();
    int CurrentTimeoutMs() const;
    void HandleLine(const QByteArray &raw);
    void Banner(const TSmtpReplyLine &reply, const QString &line);
    void BeginStartTls();

    // Authentication
    void StartAuth(TSmtpAuthType mechanism);
    void AuthFirstReply(TSmtpAuthType mechanism, const TSmtpReplyLine &reply, const QString &line);
    void AuthContinue(TSmtpAuthType mechanism, int stage, const TSmtpReplyLine &reply, const QString &line);

    // Recipients and the message
    void NextRecipient(int index);
    void PumpMessage();

    QSslSocket *m_socket = nullptr; // made by the first Connect

    TSmtpLineSplitter m_lines;
    TSmtpState m_state = smtpReady;
    TSmtpRequest m_request = smtpCustom;
    bool m_stepOpen = false;
    ReplyHandler m_onReply;
    QTimer m_stepTimer;
    bool m_connected = false;
    bool m_extended = false;
    bool m_collectAuth = false; // an EHLO reply is coming in
    bool m_startTlsOffered = false;
    bool m_tlsUp = false;
    QString m_tlsErrors;
    QString m_errorMessage;
    int m_failedReply = 0;
    int m_handlingReply = 0;   // the code of the reply whose handler runs
    QString m_reply;           // the lines of the reply coming in
    bool m_replyDone = true;   // the next line starts a new reply
    QString m_lastResponse;
    QString m_refusal;
    QList<TSmtpRefusal> m_refused;
    QStringList m_authMechanisms;

    class TMessageLines;
    std::unique_ptr<TMessageLines> m_message;
};

} // namespace velmora
