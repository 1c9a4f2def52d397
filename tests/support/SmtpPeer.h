#pragma once
// A real SMTP server for mail tests: Debian's aiosmtpd, run by smtp_peer.py
// with /usr/bin/python3 on 127.0.0.1.
//
//   SmtpPeer peer({"--cram"});               // starts it on a free port
//   ASSERT_TRUE(peer.Started());
//   client.Host = "127.0.0.1"; client.Port = QString::number(peer.Port());
//   ASSERT_TRUE(peer.WaitForEvent("data"));  // spins the event loop meanwhile
//   peer.EventsOf("rcpt")[0]["address"]      // what the server received
//   peer.Message(0)                          // raw bytes of the first message
//
// Every event the server saw is one JSON object in a file: connect, ehlo,
// helo, auth (mech, login, ok), mail, rcpt, data (sender, rcpts, raw), quit.
// Tests assert what the server received, not what the client believes it
// sent. Options (see smtp_peer.py): --cram, --ehlo-auth LINE, --greeting
// TEXT, --rcpt-reply ADDR=REPLY, --rcpt-once ADDR=REPLY, --data-reply REPLY, --data-script R1|R2..,
// --silent, --silent-quit, --tls MODE
// with --cert/--key, --port N.
#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

namespace velmora::test {

class SmtpPeer {
public:
    explicit SmtpPeer(const QStringList &options = {});
    ~SmtpPeer();
    SmtpPeer(const SmtpPeer &) = delete;
    SmtpPeer &operator=(const SmtpPeer &) = delete;

    bool Started() const { return m_port != 0; }
    quint16 Port() const { return m_port; }
    QString Host() const { return QStringLiteral("127.0.0.1"); }

    QList<QJsonObject> Events() const;
    QList<QJsonObject> EventsOf(const QString &kind) const;
    QStringList Kinds() const; // the event kinds in order
    // Spins the event loop until `count` events of `kind` arrived.
    bool WaitForEvent(const QString &kind, int count = 1, int ms = 10000) const;
    // The raw message of the `index`th accepted DATA.
    QByteArray Message(int index) const;

    void Stop();

private:
    QTemporaryDir m_dir;
    QString m_events;
    QProcess m_process;
    quint16 m_port = 0;
};

// The folder of smtp_peer.py (for tests that start it themselves).
QString SmtpPeerScript();

} // namespace velmora::test
