// The SMTP client's sign-on: the mechanism the server offers (or the one
// set), and the exchanges of PLAIN, LOGIN and CRAM-MD5.
#include "mail/SmtpCli.h"

#include <QCryptographicHash>
#include <QMessageAuthenticationCode>

namespace velmora {
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
        SendCommand(QStringLiteral("AUTH PLAIN ") + QString::fromLatin1(token.toBase64()), first);
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
            const QString user = QString::fromLatin1(Username.toLatin1().toBase64());
            SendCommand(user, [this](const TSmtpReplyLine &r, const QString &l) {
                if (r.code != 334)
                    return Fail(r.code, l);
                AuthContinue(smtpAuthLogin, 2, r, l);
            });
        } else {
            SendCommand(QString::fromLatin1(Password.toLatin1().toBase64()), done);
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
    SendCommand(QString::fromLatin1((Username.toLatin1() + ' ' + digest).toBase64()), done);
}

} // namespace velmora
