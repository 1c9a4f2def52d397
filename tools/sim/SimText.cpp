#include "SimText.h"

#include "protocol/Codec.h"
#include "protocol/MessageCodes.h"

namespace velmora::sim {
namespace {

QString Quoted(const QByteArray &text)
{
    return QLatin1Char('"') + Printable(text) + QLatin1Char('"');
}

QString Unknown(quint16 code, const QByteArray &body)
{
    return QStringLiteral("unknown code %1 (0x%2), %3 body bytes")
        .arg(code)
        .arg(code, 4, 16, QLatin1Char('0'))
        .arg(body.size());
}

// Appended when a body is shorter than the fields its code promises.
QString Checked(const QString &text, const FieldReader &reader)
{
    return reader.Ok() ? text : text + QStringLiteral(" (malformed body)");
}

} // namespace

QString Printable(const QByteArray &bytes, int maxBytes)
{
    const qsizetype shown = qMin<qsizetype>(bytes.size(), qMax(0, maxBytes));
    QString out;
    out.reserve(shown + 16);
    for (qsizetype i = 0; i < shown; ++i) {
        const uchar c = uchar(bytes.at(i));
        if (c < 0x20 || c == 0x7f || (c >= 0x80 && c < 0xa0))
            out += QStringLiteral("\\x%1").arg(uint(c), 2, 16, QLatin1Char('0'));
        else if (c == '\\')
            out += QStringLiteral("\\\\");
        else
            out += QChar(c);
    }
    if (shown < bytes.size())
        out += QStringLiteral("...(+%1 bytes)").arg(bytes.size() - shown);
    return out;
}

QString ImageKind(const QByteArray &bytes)
{
    if (bytes.startsWith("GIF87a") || bytes.startsWith("GIF89a"))
        return QStringLiteral("GIF");
    if (bytes.startsWith("\xFF\xD8\xFF"))
        return QStringLiteral("JPEG");
    if (bytes.startsWith("\x89PNG\r\n\x1a\n"))
        return QStringLiteral("PNG");
    return QStringLiteral("unknown type");
}

QString DescribeServerFrame(quint16 code, const QByteArray &body)
{
    using namespace velmora::server;
    FieldReader r(body);
    switch (code) {
    case KEEP_ALIVE:
        return QStringLiteral("KEEP_ALIVE");
    case SUPPORT_REGISTER: {
        const QByteArray id = r.Text();
        const QByteArray auth = r.Text();
        const QByteArray token = r.Text();
        return Checked(QStringLiteral("SUPPORT_REGISTER ClientID=%1 AuthValue=%2 InstanceToken=%3")
                           .arg(Quoted(id), Quoted(auth), Quoted(token)),
                       r);
    }
    case SUPPORT_DISCONNECT:
        return QStringLiteral("SUPPORT_DISCONNECT");
    case SUPPORT_NAME: {
        const QByteArray name = r.Text();
        return Checked(QStringLiteral("SUPPORT_NAME ") + Quoted(name), r);
    }
    case ONLINE_SUPPORTERS: {
        const qint32 port = r.Int();
        return Checked(QStringLiteral("ONLINE_SUPPORTERS request, port value %1").arg(port), r);
    }
    case TRANSFER_CALL: {
        const qint32 session = r.Int();
        const qint32 port = r.Int();
        return Checked(QStringLiteral("TRANSFER_CALL session %1 to port value %2").arg(session).arg(port), r);
    }
    case TRANSFER_DATA_SEND: {
        const qint32 session = r.Int();
        const qint32 port = r.Int();
        const qint32 n = r.Int();
        r.Bytes(n);
        return Checked(QStringLiteral("TRANSFER_DATA_SEND session %1 to port value %2, %3 bytes of conversation")
                           .arg(session)
                           .arg(port)
                           .arg(n),
                       r);
    }
    case TRANSFER_ANSWERED: {
        const qint32 session = r.Int();
        const qint32 port = r.Int();
        return Checked(QStringLiteral("TRANSFER_ANSWERED session %1, from port value %2").arg(session).arg(port), r);
    }
    case SUPPORT_AWAKE:
        return QStringLiteral("SUPPORT_AWAKE (operator is back)");
    case SUPPORT_IDLE:
        return QStringLiteral("SUPPORT_IDLE (operator is away)");
    case SUPPORT_READY:
        return QStringLiteral("SUPPORT_READY");
    default:
        return Unknown(code, body);
    }
}

QString DescribeChatFrame(quint16 code, const QByteArray &body)
{
    using namespace velmora::chat;
    FieldReader r(body);
    switch (code) {
    case CHAT_KEEP_ALIVE:
        return QStringLiteral("CHAT_KEEP_ALIVE");
    case INITIAL_CONNECT:
        return QStringLiteral("INITIAL_CONNECT");
    case SESSION_READY: {
        const qint32 session = r.Int();
        return Checked(QStringLiteral("SESSION_READY %1").arg(session), r);
    }
    case USER_DETAILS: {
        const QByteArray name = r.Text();
        const QByteArray mail = r.Text();
        const QByteArray phone = r.Text();
        return Checked(QStringLiteral("USER_DETAILS name=%1 e-mail=%2 phone=%3")
                           .arg(Quoted(name), Quoted(mail), Quoted(phone)),
                       r);
    }
    case SUPPORT_WELCOME: {
        const QByteArray name = r.Text();
        const QByteArray text = r.Text();
        return Checked(QStringLiteral("SUPPORT_WELCOME from %1: %2").arg(Quoted(name), Quoted(text)), r);
    }
    case CHAT_TEXT: {
        const QByteArray text = r.Text();
        return Checked(QStringLiteral("CHAT_TEXT ") + Quoted(text), r);
    }
    case END_SESSION:
        return QStringLiteral("END_SESSION");
    case WELCOME_MSG: {
        const QByteArray text = r.Text();
        return Checked(QStringLiteral("WELCOME_MSG ") + Quoted(text), r);
    }
    case NOT_AVAIL_MSG: {
        const QByteArray text = r.Text();
        return Checked(QStringLiteral("NOT_AVAIL_MSG ") + Quoted(text), r);
    }
    case SUPPORT_UNAVAILABLE:
        return QStringLiteral("SUPPORT_UNAVAILABLE");
    case NOT_AVAIL_REMINDER: {
        const QByteArray text = r.Text();
        return Checked(QStringLiteral("NOT_AVAIL_REMINDER ") + Quoted(text), r);
    }
    case PUSH_URL: {
        const QByteArray url = r.Text();
        return Checked(QStringLiteral("PUSH_URL ") + Quoted(url), r);
    }
    case IMAGE_DATA: {
        const QByteArray image = r.Text();
        return Checked(QStringLiteral("IMAGE_DATA %1 bytes, %2").arg(image.size()).arg(ImageKind(image)), r);
    }
    case TYPING_START:
        return QStringLiteral("TYPING_START");
    case SUPPORT_ANS_TO_TRANS: {
        const QByteArray id = r.Text();
        const qint32 port = r.Int();
        const qint32 session = r.Int();
        return Checked(QStringLiteral("SUPPORT_ANS_TO_TRANS ClientID=%1 port value %2 session %3")
                           .arg(Quoted(id))
                           .arg(port)
                           .arg(session),
                       r);
    }
    case TRANS_COMPLETE:
        return QStringLiteral("TRANS_COMPLETE");
    case TYPING_STOP:
        return QStringLiteral("TYPING_STOP");
    case CHAT_OPTIONS: {
        const qint32 flag = r.Int();
        return Checked(QStringLiteral("CHAT_OPTIONS empty line after each message = %1").arg(flag), r);
    }
    case SUPPORT_ANSWERS_TO_CLI: {
        const QByteArray id = r.Text();
        const qint32 port = r.Int();
        const qint32 session = r.Int();
        return Checked(QStringLiteral("SUPPORT_ANSWERS_TO_CLI ClientID=%1 port value %2 session %3")
                           .arg(Quoted(id))
                           .arg(port)
                           .arg(session),
                       r);
    }
    case SUPPORT_IN_MAINTENANCE:
        return QStringLiteral("SUPPORT_IN_MAINTENANCE");
    case SUPPORT_CHAT_REQUEST: {
        const QByteArray id = r.Text();
        const qint32 port = r.Int();
        return Checked(QStringLiteral("SUPPORT_CHAT_REQUEST ClientID=%1 for port value %2").arg(Quoted(id)).arg(port),
                       r);
    }
    case SUPPORT_LISTED:
        return QStringLiteral("SUPPORT_LISTED");
    default:
        return Unknown(code, body);
    }
}

} // namespace velmora::sim
