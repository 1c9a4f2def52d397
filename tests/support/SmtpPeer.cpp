#include "SmtpPeer.h"

#include "TestUtil.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>

namespace velmora::test {

QString SmtpPeerScript() { return QStringLiteral(VELMORA_SMTP_PEER); }

SmtpPeer::SmtpPeer(const QStringList &options)
{
    m_events = m_dir.filePath(QStringLiteral("events.jsonl"));
    QStringList args{SmtpPeerScript(), QStringLiteral("--events"), m_events};
    args += options;
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.start(QStringLiteral("/usr/bin/python3"), args);
    if (!m_process.waitForStarted(5000))
        return;
    QByteArray out;
    QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired() && !out.contains('\n')) {
        if (!m_process.waitForReadyRead(int(deadline.remainingTime())))
            break;
        out += m_process.readAllStandardOutput();
    }
    if (out.startsWith("PORT "))
        m_port = quint16(out.mid(5).trimmed().toUInt());
}

SmtpPeer::~SmtpPeer() { Stop(); }

void SmtpPeer::Stop()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

QList<QJsonObject> SmtpPeer::Events() const
{
    QList<QJsonObject> out;
    QFile file(m_events);
    if (!file.open(QIODevice::ReadOnly))
        return out;
    for (const QByteArray &line : file.readAll().split('\n'))
        if (!line.trimmed().isEmpty())
            out << QJsonDocument::fromJson(line).object();
    return out;
}

QList<QJsonObject> SmtpPeer::EventsOf(const QString &kind) const
{
    QList<QJsonObject> out;
    for (const QJsonObject &e : Events())
        if (e.value(QStringLiteral("ev")).toString() == kind)
            out << e;
    return out;
}

QStringList SmtpPeer::Kinds() const
{
    QStringList out;
    for (const QJsonObject &e : Events())
        out << e.value(QStringLiteral("ev")).toString();
    return out;
}

bool SmtpPeer::WaitForEvent(const QString &kind, int count, int ms) const
{
    // The events file is read at most every 20 ms while the loop spins.
    QElapsedTimer since;
    since.start();
    qint64 lastRead = -100;
    bool done = false;
    return WaitFor(
        [&] {
            if (since.elapsed() - lastRead >= 20) {
                lastRead = since.elapsed();
                done = EventsOf(kind).size() >= count;
            }
            return done;
        },
        ms);
}

QByteArray SmtpPeer::Message(int index) const
{
    const QList<QJsonObject> data = EventsOf(QStringLiteral("data"));
    if (index < 0 || index >= data.size())
        return QByteArray();
    return QByteArray::fromBase64(data[index].value(QStringLiteral("raw")).toString().toLatin1());
}

} // namespace velmora::test
