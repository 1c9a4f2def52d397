#pragma once
// Drives a TSmtpCli one step at a time and reads back what a server received.
#include "SmtpPeer.h"
#include "TestUtil.h"
#include "mail/SmtpCli.h"

#include <QList>
#include <QProcess>
#include <QPair>

namespace velmora::test {

class StepDriver {
public:
    explicit StepDriver(TSmtpCli &client) : c(client)
    {
        c.OnRequestDone = [this](TSmtpRequest r, quint16 e) { done.append({r, e}); };
        c.OnDisplay = [this](const QString &line) { shown << line; };
    }
    // Starts a step and waits for its end: its error, -1 when the call was
    // refused, -2 when no end came.
    int Run(bool (TSmtpCli::*step)(), int ms = 10000)
    {
        const qsizetype before = done.size();
        if (!(c.*step)())
            return -1;
        if (!WaitFor([&] { return done.size() > before; }, ms))
            return -2;
        return done.last().second;
    }
    void Point(const SmtpPeer &peer)
    {
        c.Host = peer.Host();
        c.Port = QString::number(peer.Port());
    }

    TSmtpCli &c;
    QList<QPair<TSmtpRequest, quint16>> done;
    QStringList shown;
};

// The header lines (up to the first empty line) and the rest of a message.
inline QList<QByteArray> MessageLines(const QByteArray &raw)
{
    QList<QByteArray> lines = raw.split('\n');
    for (QByteArray &l : lines)
        if (l.endsWith('\r'))
            l.chop(1);
    return lines;
}

// A self-signed certificate and its key in `dir`, made with the openssl
// command; `altNames` as for subjectAltName ("DNS:localhost,IP:127.0.0.1").
inline bool MakeCertificate(const QString &dir, const QString &altNames, QString &cert, QString &key)
{
    cert = dir + QStringLiteral("/cert.pem");
    key = dir + QStringLiteral("/key.pem");
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("rsa:2048"),
                   QStringLiteral("-nodes"), QStringLiteral("-keyout"), key, QStringLiteral("-out"), cert,
                   QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"), QStringLiteral("/CN=mail.test"),
                   QStringLiteral("-addext"), QStringLiteral("subjectAltName=") + altNames});
    return openssl.waitForFinished(30000) && openssl.exitCode() == 0;
}

} // namespace velmora::test
