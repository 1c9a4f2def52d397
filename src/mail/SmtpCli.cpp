#include "mail/SmtpCli.h"

#include "diag/SafeText.h"
#include "mail/MailText.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QMessageAuthenticationCode>
#include <QSslConfiguration>
#include <QSslSocket>

#include <deque>

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

QString QuotedName(const QString &name)
{
    QString n = OneLine(name);
    n.replace(QLatin1Char('"'), QLatin1Char('_'));
    return QLatin1Char('"') + n + QLatin1Char('"');
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

void AddAddressListHeader(std::deque<QByteArray> &out, const char *name, const QString &value)
{
    const QStringList pieces = SplitAddressList(value);
    for (qsizetype i = 0; i < pieces.size(); ++i) {
        QString line = i == 0 ? QString::fromLatin1(name) + QStringLiteral(": ") : QStringLiteral("\t");
        line += EncodeAddressPiece(pieces[i]);
        if (i + 1 < pieces.size())
            line += QLatin1Char(',');
        out.push_back(line.toLatin1());
    }
}

} // namespace

// The message, one wire line at a time (before dot-stuffing).
class TSmtpCli::TMessageLines {
public:
    explicit TMessageLines(TSmtpCli &client) : c(client)
    {
        // The letter's encoding depends on every line, so look at them once
        // first; they are asked for again while sending.
        QString line;
        for (int k = 1; c.OnGetData && c.OnGetData(k, kGetDataBuffer, line); ++k)
            FitLetterEncoding(line.left(kGetDataBuffer - 1), m_encoding);
        m_multipart = !c.EmailFiles.isEmpty();
        m_boundary = MultipartBoundary(QDateTime::currentDateTime());
        if (!c.OwnHeaders)
            BuildHeaders();
    }

    bool Next(QByteArray &line)
    {
        while (m_pending.empty()) {
            if (!Refill())
                return false;
        }
        line = std::move(m_pending.front());
        m_pending.pop_front();
        return true;
    }

private:
    QByteArray Charset() const
    {
        return m_encoding.charset == "utf-8" ? QByteArray("utf-8") : c.CharSet.toLatin1();
    }
    QByteArray TextType() const
    {
        return QByteArray("Content-Type: ") + (c.ContentType == smtpHtml ? "text/html" : "text/plain")
               + "; charset=\"" + Charset() + "\"";
    }
    QByteArray TransferEncoding() const
    {
        return m_encoding.quotedPrintable ? "Content-Transfer-Encoding: quoted-printable"
                                          : "Content-Transfer-Encoding: 7bit";
    }

    void BuildHeaders()
    {
        auto &o = m_pending;
        if (!c.HdrReplyTo.trimmed().isEmpty())
            AddAddressListHeader(o, "Reply-To", c.HdrReplyTo);
        if (!c.HdrReturnPath.trimmed().isEmpty())
            o.push_back("Return-Path: " + EncodeAddressPiece(c.HdrReturnPath).toLatin1());
        if (!c.HdrFrom.isEmpty())
            o.push_back("From: " + EncodeAddressPiece(c.HdrFrom).toLatin1());
        if (!c.HdrTo.isEmpty())
            AddAddressListHeader(o, "To", c.HdrTo);
        if (!c.HdrCc.isEmpty())
            AddAddressListHeader(o, "Cc", c.HdrCc);
        const QStringList subject = EncodeHeaderText(c.HdrSubject, 9); // "Subject: "
        for (qsizetype i = 0; i < subject.size(); ++i)
            o.push_back((i == 0 ? QStringLiteral("Subject: ") : QStringLiteral(" ")).toLatin1() + subject[i].toLatin1());
        if (!c.HdrSender.trimmed().isEmpty())
            o.push_back("Sender: " + EncodeAddressPiece(c.HdrSender).toLatin1());
        else if (!c.HdrFrom.trimmed().isEmpty())
            o.push_back("Sender: " + EncodeAddressPiece(c.HdrFrom).toLatin1());
        o.push_back("Mime-Version: 1.0");
        if (m_multipart) {
            o.push_back("Content-Type: multipart/mixed;");
            o.push_back("\tboundary=\"" + m_boundary.toLatin1() + "\"");
        } else {
            o.push_back(TextType());
            if (m_encoding.quotedPrintable)
                o.push_back(TransferEncoding());
        }
        const QDateTime now = QDateTime::currentDateTimeUtc();
        o.push_back("Date: " + MailDate(now).toLatin1());
        o.push_back("Message-ID: <" + MessageIdentifier(now, LocalHostName()).toLatin1() + ">");
        o.push_back("X-Mailer: Velmora transcript mailer 1.53");
        o.push_back(QByteArray());
        if (m_multipart) {
            o.push_back("This is a multipart MIME message.");
            o.push_back(QByteArray());
            o.push_back("--" + m_boundary.toLatin1());
            o.push_back(TextType());
            o.push_back(TransferEncoding());
            o.push_back(QByteArray());
        }
    }

    bool Refill()
    {
        switch (m_phase) {
        case Phase::Letter: {
            QString line;
            if (c.OnGetData && c.OnGetData(m_letterLine, kGetDataBuffer, line)) {
                ++m_letterLine;
                for (QByteArray &wire : EncodeLetterLine(line.left(kGetDataBuffer - 1), m_encoding))
                    m_pending.push_back(std::move(wire));
                return true;
            }
            m_phase = m_multipart ? Phase::FileStart : Phase::Done;
            return true;
        }
        case Phase::FileStart: {
            if (m_file >= c.EmailFiles.size()) {
                m_pending.push_back(QByteArray());
                m_pending.push_back("--" + m_boundary.toLatin1() + "--");
                m_phase = Phase::Done;
                return true;
            }
            const TSmtpAttachment &a = c.EmailFiles[m_file];
            m_handle.setFileName(a.path);
            if (!m_handle.open(QIODevice::ReadOnly)) {
                // The message ends after what has been sent so far.
                m_phase = Phase::Done;
                return false;
            }
            const QString name = a.name.isEmpty() ? QFileInfo(a.path).fileName() : a.name;
            m_pending.push_back(QByteArray());
            m_pending.push_back("--" + m_boundary.toLatin1());
            m_pending.push_back("Content-Type: " + FileContentType(name).toLatin1() + ";");
            m_pending.push_back("\tname=" + QuotedName(name).toLatin1());
            m_pending.push_back("Content-Transfer-Encoding: base64");
            m_pending.push_back("Content-Disposition: attachment;");
            m_pending.push_back("\tfilename=" + QuotedName(name).toLatin1());
            m_pending.push_back(QByteArray());
            m_phase = Phase::FileBody;
            return true;
        }
        case Phase::FileBody: {
            const QByteArray chunk = m_handle.read(54);
            if (!chunk.isEmpty())
                m_pending.push_back(chunk.toBase64());
            if (chunk.size() < 54) {
                m_handle.close();
                ++m_file;
                m_phase = Phase::FileStart;
            }
            return true;
        }
        case Phase::Done:
            return false;
        }
        return false;
    }

    enum class Phase { Letter, FileStart, FileBody, Done };
    TSmtpCli &c;
    std::deque<QByteArray> m_pending;
    Phase m_phase = Phase::Letter;
    TLetterEncoding m_encoding;
    bool m_multipart = false;
    QString m_boundary;
    int m_letterLine = 1;
    qsizetype m_file = 0;
    QFile m_handle;
};

TSmtpCli::TSmtpCli(QObject *parent) : QObject(parent), m_socket(new QSslSocket(this))
{
    m_stepTimer.setSingleShot(true);
    connect(&m_stepTimer, &QTimer::timeout, this, &TSmtpCli::StepTimedOut);
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

TSmtpCli::~TSmtpCli()
{
    m_stepOpen = false;
    m_socket->disconnect(this);
    m_socket->abort();
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
    return m_connected && m_socket->state() == QAbstractSocket::ConnectedState;
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

QString TSmtpCli::SignOnName() const
{
    QString name = OneLine(SignOn).trimmed();
    if (name.isEmpty())
        name = LocalHostName();
    name.replace(QLatin1Char(' '), QLatin1Char('_'));
    return name;
}

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

bool TSmtpCli::Auth()
{
    if (!CanStart(true))
        return false;
    Begin(smtpAuth);
    if (!m_extended) {
        Fail(kSmtpOwnError, QStringLiteral("500 ESMTP not supported."));
        return true;
    }
    TSmtpAuthType mechanism = AuthType;
    if (mechanism == smtpAuthNone) {
        Finish(0);
        return true;
    }
    if (mechanism == smtpAuthAutoSelect) {
        if (m_authMechanisms.contains(QLatin1String("CRAM-MD5")))
            mechanism = smtpAuthCramMD5;
        else if (m_authMechanisms.contains(QLatin1String("LOGIN")))
            mechanism = smtpAuthLogin;
        else if (m_authMechanisms.contains(QLatin1String("PLAIN")))
            mechanism = smtpAuthPlain;
        else
            mechanism = smtpAuthCramMD5;
    }
    if (mechanism == smtpAuthCramSha1) {
        Fail(kSmtpOwnError, QStringLiteral("500 Authentication Type could not be determined."));
        return true;
    }
    StartAuth(mechanism);
    return true;
}

void TSmtpCli::StartAuth(TSmtpAuthType mechanism)
{
    auto first = [this, mechanism](const TSmtpReplyLine &r, const QString &l) { AuthFirstReply(mechanism, r, l); };
    switch (mechanism) {
    case smtpAuthPlain: {
        const QByteArray user = Username.toLatin1();
        // Authorisation and authentication identity are both the user name.
        const QByteArray token = user + '\0' + user + '\0' + Password.toLatin1();
        SendCommand(QStringLiteral("AUTH PLAIN ") + Latin1(token.toBase64()), first);
        break;
    }
    case smtpAuthLogin:
        SendCommand(QStringLiteral("AUTH LOGIN"), first);
        break;
    default:
        SendCommand(QStringLiteral("AUTH CRAM-MD5"), first);
        break;
    }
}

void TSmtpCli::AuthFirstReply(TSmtpAuthType mechanism, const TSmtpReplyLine &reply, const QString &line)
{
    const int expected = mechanism == smtpAuthPlain ? 235 : 334;
    if (reply.code == expected) {
        if (mechanism == smtpAuthPlain)
            Finish(0);
        else
            AuthContinue(mechanism, 1, reply, line);
        return;
    }
    if (AuthType != smtpAuthAutoSelect)
        return Fail(reply.code, line);
    if (reply.code == 504) {
        if (mechanism == smtpAuthCramMD5)
            return StartAuth(smtpAuthLogin);
        if (mechanism == smtpAuthLogin)
            return StartAuth(smtpAuthPlain);
        return Fail(504, line);
    }
    Fail(reply.code, QStringLiteral("500 Authentication Type could not be determined."));
}

void TSmtpCli::AuthContinue(TSmtpAuthType mechanism, int stage, const TSmtpReplyLine &reply, const QString &line)
{
    Q_UNUSED(reply);
    auto done = [this](const TSmtpReplyLine &r, const QString &l) {
        if (r.code != 235)
            return Fail(r.code, l);
        Finish(0);
    };
    if (mechanism == smtpAuthLogin) {
        if (stage == 1) {
            m_state = smtpInternalReady;
            SendCommand(Latin1(Username.toLatin1().toBase64()), [this](const TSmtpReplyLine &r, const QString &l) {
                if (r.code != 334)
                    return Fail(r.code, l);
                AuthContinue(smtpAuthLogin, 2, r, l);
            });
        } else {
            SendCommand(Latin1(Password.toLatin1().toBase64()), done);
        }
        return;
    }
    // CRAM-MD5: the challenge follows "334 ".
    if (line.size() <= 4)
        return Fail(kSmtpOwnError, QStringLiteral("500 Malformed MD5 Challege: ") + line);
    const QByteArray challenge = QByteArray::fromBase64(line.mid(4).trimmed().toLatin1());
    const QByteArray digest =
        QMessageAuthenticationCode::hash(challenge, Password.toLatin1(), QCryptographicHash::Md5).toHex();
    m_state = smtpInternalReady;
    SendCommand(Latin1((Username.toLatin1() + ' ' + digest).toBase64()), done);
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
    NextRecipient(0);
    return true;
}

void TSmtpCli::NextRecipient(int index)
{
    if (index >= RcptName.size()) {
        Finish(0);
        return;
    }
    m_state = index == 0 ? smtpWaitingResponse : smtpInternalReady;
    SendCommand(QStringLiteral("RCPT TO:<") + CommandAddress(RcptName[index]) + QLatin1Char('>'),
                [this, index](const TSmtpReplyLine &r, const QString &l) {
                    if (r.code != 250 && r.code != 251)
                        return Fail(r.code, l);
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

void TSmtpCli::Abort()
{
    m_stepOpen = false;
    m_stepTimer.stop();
    m_onReply = nullptr;
    m_message.reset();
    m_socket->abort();
    m_connected = false;
    m_state = smtpReady;
}

void TSmtpCli::QuitAndClose()
{
    if (m_connected && !m_stepOpen && m_socket->state() == QAbstractSocket::ConnectedState
        && (Security == smtpSecurityNone || m_tlsUp)) {
        Display(QStringLiteral("> QUIT"));
        m_socket->write("QUIT\r\n");
        m_socket->flush();
    }
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
    m_socket->abort();
    m_connected = false;
    m_stepOpen = true;
    // Nothing is lost when a QUIT goes unanswered: the mail before it is in.
    Finish(quitting ? 0 : kSmtpTimedOut);
}

} // namespace velmora
