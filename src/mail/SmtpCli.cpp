// The SMTP client's steps and its socket. The message it sends is built in
// SmtpMessage.cpp, the sign-on in SmtpAuth.cpp.
#include "mail/SmtpCli.h"

#include "diag/SafeText.h"
#include "mail/MailText.h"
#include "mail/SmtpMessage.h"

#include <QHostAddress>
#include <QSslConfiguration>
#include <QSslSocket>

namespace velmora {
namespace {

// Bytes handed to the socket before the next line waits for them to leave.
constexpr qint64 kSendWindow = 16 * 1024;

QString Latin1(const QByteArray &bytes) { return QString::fromLatin1(bytes); }

// An address on its way into MAIL FROM or RCPT TO: nothing that could end the
// command or the brackets around it.
QString CommandAddress(const QString &text)
{
    QString out;
    for (QChar c : ExtractAddress(text))
        if (c.unicode() > 0x20 && c.unicode() != 0x7f && c != QLatin1Char('<') && c != QLatin1Char('>'))
            out += c;
    return out;
}

int WsaFromSocketError(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError: return 10061;
    case QAbstractSocket::RemoteHostClosedError: return 10054;
    case QAbstractSocket::HostNotFoundError: return 11001;
    case QAbstractSocket::SocketAccessError: return 10013;
    case QAbstractSocket::SocketResourceError: return 10055;
    case QAbstractSocket::SocketTimeoutError: return 10060;
    case QAbstractSocket::NetworkError: return 10051;
    case QAbstractSocket::AddressInUseError: return 10048;
    case QAbstractSocket::SocketAddressNotAvailableError: return 10049;
    default: return 10050;
    }
}

} // namespace

TSmtpCli::TSmtpCli(QObject *parent) : QObject(parent)
{
    m_stepTimer.setSingleShot(true);
    connect(&m_stepTimer, &QTimer::timeout, this, &TSmtpCli::StepTimedOut);
}

TSmtpCli::~TSmtpCli()
{
    m_stepOpen = false;
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
}

void TSmtpCli::MakeSocket()
{
    // Made for the first connection only: a TLS socket loads the TLS
    // plug-in and its library, which a console that never mails need not pay.
    if (m_socket)
        return;
    m_socket = new QSslSocket(this);
    connect(m_socket, &QSslSocket::connected, this, &TSmtpCli::SocketConnected);
    connect(m_socket, &QSslSocket::encrypted, this, &TSmtpCli::SocketEncrypted);
    connect(m_socket, &QSslSocket::readyRead, this, &TSmtpCli::SocketReadyRead);
    connect(m_socket, &QSslSocket::disconnected, this, &TSmtpCli::SocketDisconnected);
    connect(m_socket, &QSslSocket::errorOccurred, this, &TSmtpCli::SocketError);
    connect(m_socket, &QSslSocket::sslErrors, this, &TSmtpCli::SslErrors);
    connect(m_socket, &QSslSocket::bytesWritten, this, [this] {
        if (m_stepOpen)
            m_stepTimer.start(CurrentTimeoutMs());
        if (m_message)
            PumpMessage();
    });
}

// --- steps -------------------------------------------------------------------

bool TSmtpCli::CanStart(bool needConnection)
{
    if (m_stepOpen || (m_state != smtpReady && m_state != smtpInternalReady)) {
        m_refusal = QStringLiteral("SMTP component not ready");
        return false;
    }
    if (needConnection && !Connected()) {
        m_refusal = QStringLiteral("SMTP component not connected");
        return false;
    }
    m_refusal.clear();
    return true;
}

void TSmtpCli::Begin(TSmtpRequest request)
{
    m_request = request;
    m_stepOpen = true;
    m_state = smtpWaitingResponse;
    // Each step is judged on its own: an earlier step's failure never
    // colours this one.
    m_errorMessage.clear();
    m_failedReply = 0;
    m_stepTimer.start(CurrentTimeoutMs());
}

int TSmtpCli::CurrentTimeoutMs() const
{
    return m_request == smtpQuit ? std::min(QuitTimeoutMs, StepTimeoutMs) : StepTimeoutMs;
}

bool TSmtpCli::Connected() const
{
    return m_connected && m_socket && m_socket->state() == QAbstractSocket::ConnectedState;
}

void TSmtpCli::Finish(quint16 error)
{
    if (!m_stepOpen)
        return;
    m_stepOpen = false;
    m_stepTimer.stop();
    m_onReply = nullptr;
    m_collectAuth = false;
    m_message.reset();
    m_state = smtpReady;
    const TSmtpRequest request = m_request;
    // Never from inside the call that started the step, nor from inside a
    // socket handler: the caller may start the next step or open a box.
    QTimer::singleShot(0, this, [this, request, error] {
        if (OnRequestDone)
            OnRequestDone(request, error);
    });
}

void TSmtpCli::SetError(const QString &text)
{
    if (!m_errorMessage.isEmpty())
        return;
    // Line breaks between the lines of a reply stay; nothing else may break
    // the text where it is shown or logged.
    QStringList lines = text.left(kMaxReplyText).split(QLatin1Char('\n'));
    for (QString &line : lines)
        line = OneLine(line);
    m_errorMessage = lines.join(QLatin1Char('\n'));
}

void TSmtpCli::Fail(quint16 error, const QString &text)
{
    if (!text.isEmpty())
        SetError(text);
    if (error != 0 && error == m_handlingReply)
        m_failedReply = error;
    Finish(error == 0 ? kSmtpOwnError : error);
}

void TSmtpCli::Display(const QString &line)
{
    if (OnDisplay)
        OnDisplay(line);
}

void TSmtpCli::SendRaw(const QByteArray &line, const QString &shown)
{
    Display(QStringLiteral("> ") + (shown.isNull() ? Latin1(line) : shown));
    QByteArray wire;
    wire.reserve(line.size() + 3);
    if (line.startsWith('.'))
        wire += '.';
    wire += line;
    wire += "\r\n";
    m_socket->write(wire);
}

void TSmtpCli::SendCommand(const QString &command, ReplyHandler onReply, const QString &shown)
{
    m_onReply = std::move(onReply);
    m_state = smtpWaitingResponse;
    SendRaw(OneLine(command).toLatin1(), shown);
}

QString TSmtpCli::SignOnName() const { return EhloName(SignOn); }

quint16 TSmtpCli::PortNumber() const
{
    const QString p = Port.trimmed().toLower();
    if (p == QLatin1String("smtp"))
        return 25;
    if (p == QLatin1String("smtps"))
        return 465;
    if (p == QLatin1String("submission"))
        return 587;
    bool ok = false;
    const uint n = p.toUInt(&ok);
    return ok && n > 0 && n < 65536 ? quint16(n) : 25;
}

bool TSmtpCli::Connect()
{
    if (!CanStart(false))
        return false;
    if (Connected()) {
        m_refusal = QStringLiteral("SMTP component already connected");
        return false;
    }
    MakeSocket();
    // What is left of a connection the peer closed goes; it is never reused.
    if (m_socket->state() != QAbstractSocket::UnconnectedState)
        m_socket->abort();
    m_connected = false;
    m_errorMessage.clear();
    m_extended = false;
    m_tlsUp = false;
    m_startTlsOffered = false;
    m_tlsErrors.clear();
    m_lines.Clear();
    Begin(smtpConnect);
    m_replyDone = true;
    m_state = smtpDnsLookup;

    QSslConfiguration conf = QSslConfiguration::defaultConfiguration();
    conf.setPeerVerifyMode(QSslSocket::VerifyPeer);
    if (Security != smtpSecurityNone && !CaFile.trimmed().isEmpty()) {
        const QList<QSslCertificate> extra = QSslCertificate::fromPath(CaFile.trimmed(), QSsl::Pem);
        if (extra.isEmpty()) {
            Fail(kSmtpOwnError, QStringLiteral("Could not read trusted certificates from ") + CaFile.trimmed());
            return true;
        }
        conf.addCaCertificates(extra);
    }
    m_socket->setSslConfiguration(conf);
    m_socket->setPeerVerifyName(Host.trimmed());
    const QString local = LocalAddr.trimmed();
    if (!local.isEmpty() && local != QLatin1String("0.0.0.0"))
        m_socket->bind(QHostAddress(local));
    if (Security == smtpSecurityTls)
        m_socket->connectToHostEncrypted(Host.trimmed(), PortNumber());
    else
        m_socket->connectToHost(Host.trimmed(), PortNumber());
    return true;
}

void TSmtpCli::SocketConnected()
{
    m_connected = true;
    if (Security == smtpSecurityTls)
        return; // the greeting comes once TLS is up
    m_state = smtpWaitingBanner;
    m_onReply = [this](const TSmtpReplyLine &r, const QString &l) { Banner(r, l); };
}

void TSmtpCli::SocketEncrypted()
{
    m_tlsUp = true;
    if (!m_stepOpen || m_request != smtpConnect)
        return;
    if (Security == smtpSecurityTls) {
        m_state = smtpWaitingBanner;
        m_onReply = [this](const TSmtpReplyLine &r, const QString &l) { Banner(r, l); };
        return;
    }
    // STARTTLS done: the client must introduce itself again.
    m_extended = false;
    m_authMechanisms.clear();
    Display(QStringLiteral("< (TLS established with ") + OneLine(m_socket->peerVerifyName()) + QLatin1Char(')'));
    m_state = smtpConnected;
    Finish(0);
}

void TSmtpCli::Banner(const TSmtpReplyLine &reply, const QString &line)
{
    if (reply.code != 220) {
        // The greeting is the error text; the close ends the step with 10004.
        SetError(line);
        m_failedReply = reply.Valid() ? reply.code : 0;
        m_socket->abort();
        m_connected = false;
        Finish(kSmtpConnectionClosed);
        return;
    }
    if (Security == smtpSecurityStartTls && !m_tlsUp) {
        BeginStartTls();
        return;
    }
    m_state = smtpConnected;
    Finish(0);
}

void TSmtpCli::BeginStartTls()
{
    m_collectAuth = true;
    m_authMechanisms.clear();
    SendCommand(QStringLiteral("EHLO ") + SignOnName(), [this](const TSmtpReplyLine &r, const QString &l) {
        m_collectAuth = false;
        if (r.code != 250)
            return Fail(r.code, l);
        if (!m_startTlsOffered) {
            Fail(kSmtpOwnError, QStringLiteral("STARTTLS not offered by the mail server; mail is never sent "
                                               "unencrypted when encryption is required"));
            m_socket->abort();
            return;
        }
        SendCommand(QStringLiteral("STARTTLS"), [this](const TSmtpReplyLine &r2, const QString &l2) {
            if (r2.code != 220)
                return Fail(r2.code, l2);
            m_state = smtpConnecting;
            m_lines.Clear();
            m_replyDone = true;
            m_socket->startClientEncryption();
        });
    });
}

bool TSmtpCli::Helo()
{
    if (!CanStart(true))
        return false;
    Begin(smtpHelo);
    SendCommand(QStringLiteral("HELO ") + SignOnName(), [this](const TSmtpReplyLine &r, const QString &l) {
        if (r.code != 250)
            return Fail(r.code, l);
        Finish(0);
    });
    return true;
}

bool TSmtpCli::Ehlo()
{
    if (!CanStart(true))
        return false;
    Begin(smtpEhlo);
    m_authMechanisms.clear();
    m_collectAuth = true;
    SendCommand(QStringLiteral("EHLO ") + SignOnName(), [this](const TSmtpReplyLine &r, const QString &l) {
        m_collectAuth = false;
        if (r.code != 250)
            return Fail(r.code, l);
        m_extended = true;
        Finish(0);
    });
    return true;
}

bool TSmtpCli::MailFrom()
{
    if (!CanStart(true))
        return false;
    Begin(smtpMailFrom);
    SendCommand(QStringLiteral("MAIL FROM:<") + CommandAddress(FromName) + QLatin1Char('>'),
                [this](const TSmtpReplyLine &r, const QString &l) {
                    if (r.code != 250)
                        return Fail(r.code, l);
                    Finish(0);
                });
    return true;
}

bool TSmtpCli::RcptTo()
{
    if (!CanStart(true))
        return false;
    if (RcptName.isEmpty()) {
        m_refusal = QStringLiteral("RcptName list is empty");
        return false;
    }
    Begin(smtpRcptTo);
    m_refused.clear();
    NextRecipient(0);
    return true;
}

void TSmtpCli::NextRecipient(int index)
{
    if (index >= RcptName.size()) {
        if (m_refused.size() < RcptName.size()) {
            Finish(0);
            return;
        }
        // Nobody to send it to: the step fails as the first refusal did.
        const TSmtpRefusal &first = m_refused.first();
        SetError(first.text);
        m_failedReply = first.code;
        Finish(quint16(first.code));
        return;
    }
    m_state = index == 0 ? smtpWaitingResponse : smtpInternalReady;
    SendCommand(QStringLiteral("RCPT TO:<") + CommandAddress(RcptName[index]) + QLatin1Char('>'),
                [this, index](const TSmtpReplyLine &r, const QString &l) {
                    if (r.code == 250 || r.code == 251)
                        return NextRecipient(index + 1);
                    // A server closing down, or no reply at all: nothing more goes on this connection.
                    if (!r.Valid() || r.code == 421)
                        return Fail(r.code, l);
                    // One refused address does not keep the mail from the others.
                    m_refused.append({RcptName[index], r.code, l.left(kMaxReplyText)});
                    NextRecipient(index + 1);
                });
}

bool TSmtpCli::Data()
{
    if (!CanStart(true))
        return false;
    Begin(smtpData);
    SendCommand(QStringLiteral("DATA"), [this](const TSmtpReplyLine &r, const QString &l) {
        if (r.code != 354)
            return Fail(r.code, l);
        m_state = smtpInternalReady;
        m_message = std::make_unique<TMessageLines>(*this);
        PumpMessage();
    });
    return true;
}

void TSmtpCli::PumpMessage()
{
    if (!m_message || !m_stepOpen)
        return;
    QByteArray line;
    while (m_socket->bytesToWrite() < kSendWindow) {
        if (!m_message->Next(line)) {
            m_message.reset();
            // The end of the message: the one line that is never stuffed.
            m_onReply = [this](const TSmtpReplyLine &r, const QString &l) {
                if (r.code != 250)
                    return Fail(r.code, l);
                Finish(0);
            };
            m_state = smtpWaitingResponse;
            Display(QStringLiteral("> ."));
            m_socket->write(".\r\n");
            return;
        }
        SendRaw(line, QString());
    }
}

bool TSmtpCli::Quit()
{
    if (!CanStart(false))
        return false;
    Begin(smtpQuit);
    if (!Connected()) {
        if (m_socket)
            m_socket->abort();
        m_connected = false;
        Finish(0);
        return true;
    }
    SendCommand(QStringLiteral("QUIT"), [this](const TSmtpReplyLine &r, const QString &l) {
        if (r.code != 221) {
            Fail(r.code, l);
            m_socket->abort();
            return;
        }
        // The step ends when the connection is closed.
        m_socket->disconnectFromHost();
    });
    return true;
}

void TSmtpCli::DropStep()
{
    m_stepOpen = false;
    m_stepTimer.stop();
    m_onReply = nullptr;
    m_message.reset();
    m_state = smtpReady;
}

void TSmtpCli::Abort()
{
    DropStep();
    if (m_socket)
        m_socket->abort();
    m_connected = false;
}

bool TSmtpCli::SayQuit()
{
    if (!m_connected || !m_socket || m_stepOpen || m_socket->state() != QAbstractSocket::ConnectedState
        || (Security != smtpSecurityNone && !m_tlsUp))
        return false;
    Display(QStringLiteral("> QUIT"));
    m_socket->write("QUIT\r\n");
    return true;
}

void TSmtpCli::Hangup()
{
    if (!SayQuit()) {
        Abort();
        return;
    }
    DropStep();
    m_connected = false;
    m_socket->disconnectFromHost(); // closes once QUIT is written
}

void TSmtpCli::QuitAndClose()
{
    if (SayQuit())
        m_socket->flush();
    Abort();
}

void TSmtpCli::RcptNameAdd(const QString &to, const QString &cc, const QString &bcc)
{
    RcptName += SplitAddressList(to + QLatin1Char(';') + cc + QLatin1Char(';') + bcc);
}

// --- socket ----------------------------------------------------------------

void TSmtpCli::SocketReadyRead()
{
    m_lines.Feed(m_socket->readAll());
    if (m_stepOpen)
        m_stepTimer.start(CurrentTimeoutMs());
    // One line at a time from the member queue: a handler may start the next
    // step, which must see the rest of what has arrived.
    while (std::optional<QByteArray> line = m_lines.TakeLine())
        HandleLine(*line);
}

void TSmtpCli::HandleLine(const QByteArray &raw)
{
    const QString line = OneLine(Latin1(raw));
    m_lastResponse = line;
    Display(QStringLiteral("< ") + line);
    const TSmtpReplyLine reply = ParseReplyLine(raw);
    if (m_collectAuth)
        ReadEhloLine(line, m_authMechanisms, m_startTlsOffered);
    // The whole reply, bounded: its first line is often the one that says why.
    if (m_replyDone)
        m_reply.clear();
    m_replyDone = !(reply.Valid() && reply.more);
    if (m_reply.size() < kMaxReplyText)
        m_reply += (m_reply.isEmpty() ? QString() : QStringLiteral("\n")) + line.left(kMaxReplyText - m_reply.size());
    if (!m_replyDone)
        return;
    if (!m_onReply)
        return; // nothing asked: a stray line is shown and otherwise ignored
    ReplyHandler handler = std::exchange(m_onReply, nullptr);
    const QString text = m_reply; // the handler may start the next reply
    m_handlingReply = reply.code;
    handler(reply, text);
    m_handlingReply = 0;
}

void TSmtpCli::SocketDisconnected()
{
    m_connected = false;
    m_tlsUp = false;
    if (!m_stepOpen)
        return;
    if (m_request == smtpQuit) {
        Finish(0);
        return;
    }
    if (!m_tlsErrors.isEmpty())
        SetError(m_tlsErrors);
    Finish(kSmtpConnectionClosed);
}

void TSmtpCli::SslErrors(const QList<QSslError> &errors)
{
    QStringList texts;
    for (const QSslError &e : errors)
        texts << e.errorString();
    m_tlsErrors = QStringLiteral("Certificate not trusted: ") + texts.join(QStringLiteral("; "));
    Display(QStringLiteral("< (") + OneLine(m_tlsErrors) + QLatin1Char(')'));
}

void TSmtpCli::SocketError()
{
    const QAbstractSocket::SocketError error = m_socket->error();
    if (!m_stepOpen)
        return;
    if (error == QAbstractSocket::SslHandshakeFailedError || !m_tlsErrors.isEmpty()) {
        const QString text = !m_tlsErrors.isEmpty()
                                 ? m_tlsErrors
                                 : QStringLiteral("TLS handshake failed: ") + m_socket->errorString();
        SetError(text);
        m_stepOpen = false;
        m_socket->abort();
        m_connected = false;
        m_stepOpen = true;
        Finish(kSmtpOwnError);
        return;
    }
    if (m_connected)
        return; // the disconnect that follows ends the step
    const int code = WsaFromSocketError(error);
    // No reply code in front: the server said nothing, and a made-up one
    // would read as the server's refusal.
    SetError(m_socket->errorString() + QStringLiteral(" (Winsock error #") + QString::number(code) + QLatin1Char(')'));
    m_stepOpen = false;
    m_socket->abort();
    m_stepOpen = true;
    Finish(quint16(code));
}

void TSmtpCli::StepTimedOut()
{
    if (!m_stepOpen)
        return;
    const bool quitting = m_request == smtpQuit;
    if (quitting)
        Display(QStringLiteral("< (no answer to QUIT; connection closed)"));
    else
        SetError(QStringLiteral("No answer from the mail server within %1 seconds (Winsock error #10060)")
                     .arg(std::max(1, StepTimeoutMs / 1000)));
    m_stepOpen = false;
    if (m_socket)
        m_socket->abort();
    m_connected = false;
    m_stepOpen = true;
    // Nothing is lost when a QUIT goes unanswered: the mail before it is in.
    Finish(quitting ? 0 : kSmtpTimedOut);
}

} // namespace velmora
