#include "support/FakeChatServer.h"

#include "support/TestUtil.h"

#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtEndian>
#include <gtest/gtest.h>

namespace velmora::test {

QByteArray MakeFrame(quint16 code, const QByteArray &body)
{
    QByteArray frame(kHeaderSize, '\0');
    qToBigEndian<quint16>(code, frame.data());
    qToBigEndian<quint32>(quint32(body.size()), frame.data() + 2);
    frame.append(body);
    return frame;
}

QByteArray BodyOf(const QByteArray &frame)
{
    FrameBuffer in;
    in.Append(frame);
    Frame f;
    EXPECT_EQ(in.TakeFrame(f), FrameBuffer::Result::Frame);
    EXPECT_EQ(in.Pending(), 0);
    return f.body;
}

// Lives on the server thread: owns the listening socket and the accepted
// connections, and records into the owner's shared state under its lock.
class FakeChatServer::Worker : public QObject {
public:
    explicit Worker(FakeChatServer &owner) : m_owner(owner) {}

    bool Listen()
    {
        m_server = new QTcpServer(this);
        QObject::connect(m_server, &QTcpServer::newConnection, this, [this] { OnNewConnection(); });
        // Hundreds of calls connect at once: with the default backlog the
        // kernel drops their handshakes and they retry for seconds.
        m_server->setListenBacklogSize(1024);
        m_server->setMaxPendingConnections(1024);
        if (!m_server->listen(QHostAddress::LocalHost, 0))
            return false;
        m_owner.m_port = m_server->serverPort();
        return true;
    }

    void StopAccepting() { m_server->close(); }

    bool Send(int index, const QByteArray &bytes)
    {
        QTcpSocket *socket = SocketAt(index);
        if (!socket || socket->state() != QAbstractSocket::ConnectedState)
            return false;
        if (socket->write(bytes) != bytes.size())
            return false;
        socket->flush(); // the rest leaves from this thread's event loop
        return true;
    }

    void Close(int index)
    {
        if (QTcpSocket *socket = SocketAt(index))
            socket->disconnectFromHost(); // after what is still being written
    }

    void Shutdown()
    {
        for (Connection &c : m_connections) {
            if (c.socket) {
                c.socket->disconnect(this);
                c.socket->abort();
                delete c.socket;
            }
        }
        m_connections.clear();
        delete m_server;
        m_server = nullptr;
    }

private:
    struct Connection {
        QPointer<QTcpSocket> socket;
        FrameBuffer in;
    };

    QTcpSocket *SocketAt(int index) const
    {
        return index >= 0 && index < int(m_connections.size()) ? m_connections[std::size_t(index)].socket.data()
                                                                : nullptr;
    }

    void OnNewConnection()
    {
        while (QTcpSocket *socket = m_server->nextPendingConnection()) {
            const int index = int(m_connections.size());
            m_connections.push_back(Connection{socket, FrameBuffer()});
            {
                std::lock_guard lock(m_owner.m_mutex);
                m_owner.m_connections.emplace_back();
                m_owner.m_connections.back().acceptedAtMs = m_owner.m_clock.elapsed();
            }
            QObject::connect(socket, &QTcpSocket::readyRead, this, [this, index] { OnReadyRead(index); });
            QObject::connect(socket, &QTcpSocket::disconnected, this, [this, index] { OnDisconnected(index); });
            if (m_owner.m_sendInitialConnect)
                Send(index, MakeFrame(1));
            FakeChatServer *owner = &m_owner;
            QMetaObject::invokeMethod(owner, [owner, index] { emit owner->ConnectionAccepted(index); },
                                      Qt::QueuedConnection);
        }
    }

    void OnReadyRead(int index)
    {
        Connection &c = m_connections[std::size_t(index)];
        if (!c.socket)
            return;
        const QByteArray bytes = c.socket->readAll();
        const qint64 now = m_owner.m_clock.elapsed();
        c.in.Append(bytes);
        std::vector<Frame> complete;
        bool tooLarge = false;
        for (;;) {
            Frame frame;
            const FrameBuffer::Result result = c.in.TakeFrame(frame);
            if (result == FrameBuffer::Result::NeedMore)
                break;
            if (result == FrameBuffer::Result::TooLarge) {
                tooLarge = true;
                break;
            }
            complete.push_back(frame);
        }
        {
            std::lock_guard lock(m_owner.m_mutex);
            ConnectionRecord &record = m_owner.m_connections[std::size_t(index)];
            record.raw.append(bytes);
            for (const Frame &f : complete)
                m_owner.m_frames.push_back(ReceivedFrame{index, f.code, f.body, now});
            if (tooLarge) {
                record.protocolError = true;
                if (record.closedAtMs < 0)
                    record.closedAtMs = now;
            }
        }
        FakeChatServer *owner = &m_owner;
        for (const Frame &f : complete) {
            QMetaObject::invokeMethod(
                owner, [owner, index, f] { emit owner->FrameReceived(index, f.code, f.body); }, Qt::QueuedConnection);
        }
        if (tooLarge) {
            c.socket->abort();
            QMetaObject::invokeMethod(owner, [owner, index] { emit owner->ConnectionClosed(index); },
                                      Qt::QueuedConnection);
        }
    }

    void OnDisconnected(int index)
    {
        Connection &c = m_connections[std::size_t(index)];
        if (c.socket && c.socket->bytesAvailable() > 0)
            OnReadyRead(index);
        bool first = false;
        {
            std::lock_guard lock(m_owner.m_mutex);
            ConnectionRecord &record = m_owner.m_connections[std::size_t(index)];
            if (record.closedAtMs < 0) {
                record.closedAtMs = m_owner.m_clock.elapsed();
                first = true;
            }
        }
        if (first) {
            FakeChatServer *owner = &m_owner;
            QMetaObject::invokeMethod(owner, [owner, index] { emit owner->ConnectionClosed(index); },
                                      Qt::QueuedConnection);
        }
    }

    FakeChatServer &m_owner;
    QTcpServer *m_server = nullptr;
    std::vector<Connection> m_connections;
};

FakeChatServer::FakeChatServer(QObject *parent) : QObject(parent)
{
    m_clock.start();
    m_thread.setObjectName(QStringLiteral("FakeChatServer"));
    m_worker = new Worker(*this);
    m_worker->moveToThread(&m_thread);
    m_thread.start();
    RunOnServer([this] { m_listening = m_worker->Listen(); });
}

FakeChatServer::~FakeChatServer()
{
    RunOnServer([this] { m_worker->Shutdown(); });
    m_thread.quit();
    m_thread.wait();
    delete m_worker;
}

void FakeChatServer::RunOnServer(const std::function<void()> &job)
{
    QMetaObject::invokeMethod(m_worker, job, Qt::BlockingQueuedConnection);
}

bool FakeChatServer::Valid(int connection) const
{
    return connection >= 0 && connection < int(m_connections.size());
}

void FakeChatServer::StopAccepting()
{
    RunOnServer([this] { m_worker->StopAccepting(); });
    m_listening = false;
}

int FakeChatServer::ConnectionCount() const
{
    std::lock_guard lock(m_mutex);
    return int(m_connections.size());
}

std::vector<ReceivedFrame> FakeChatServer::Frames() const
{
    std::lock_guard lock(m_mutex);
    return m_frames;
}

int FakeChatServer::FrameCount() const
{
    std::lock_guard lock(m_mutex);
    return int(m_frames.size());
}

void FakeChatServer::ClearFrames()
{
    std::lock_guard lock(m_mutex);
    m_frames.clear();
}

std::vector<ReceivedFrame> FakeChatServer::FramesOn(int connection) const
{
    std::lock_guard lock(m_mutex);
    std::vector<ReceivedFrame> out;
    for (const ReceivedFrame &f : m_frames)
        if (f.connection == connection)
            out.push_back(f);
    return out;
}

QByteArray FakeChatServer::RawBytes(int connection) const
{
    std::lock_guard lock(m_mutex);
    return Valid(connection) ? m_connections[std::size_t(connection)].raw : QByteArray();
}

bool FakeChatServer::IsOpen(int connection) const
{
    std::lock_guard lock(m_mutex);
    return Valid(connection) && m_connections[std::size_t(connection)].closedAtMs < 0;
}

qint64 FakeChatServer::AcceptedAtMs(int connection) const
{
    std::lock_guard lock(m_mutex);
    return Valid(connection) ? m_connections[std::size_t(connection)].acceptedAtMs : -1;
}

qint64 FakeChatServer::ClosedAtMs(int connection) const
{
    std::lock_guard lock(m_mutex);
    return Valid(connection) ? m_connections[std::size_t(connection)].closedAtMs : -1;
}

bool FakeChatServer::ProtocolError(int connection) const
{
    std::lock_guard lock(m_mutex);
    return Valid(connection) && m_connections[std::size_t(connection)].protocolError;
}

bool FakeChatServer::SendFrame(int connection, quint16 code, const QByteArray &body)
{
    return SendRaw(connection, MakeFrame(code, body));
}

bool FakeChatServer::SendRaw(int connection, const QByteArray &bytes)
{
    if (!IsOpen(connection))
        return false;
    bool ok = false;
    RunOnServer([&] { ok = m_worker->Send(connection, bytes); });
    return ok;
}

void FakeChatServer::CloseConnection(int connection)
{
    bool first = false;
    {
        std::lock_guard lock(m_mutex);
        if (!Valid(connection))
            return;
        ConnectionRecord &record = m_connections[std::size_t(connection)];
        if (record.closedAtMs < 0) {
            record.closedAtMs = m_clock.elapsed();
            first = true;
        }
    }
    RunOnServer([&] { m_worker->Close(connection); });
    if (first)
        emit ConnectionClosed(connection);
}

bool FakeChatServer::WaitForConnections(int count, int timeoutMs)
{
    return WaitFor([&] { return ConnectionCount() >= count; }, timeoutMs);
}

bool FakeChatServer::WaitForFrames(int count, int timeoutMs)
{
    return WaitFor([&] { return FrameCount() >= count; }, timeoutMs);
}

int FakeChatServer::WaitForFrame(quint16 code, int timeoutMs, int from)
{
    int found = -1;
    WaitFor(
        [&] {
            std::lock_guard lock(m_mutex);
            for (int i = std::max(from, 0); i < int(m_frames.size()); ++i) {
                if (m_frames[std::size_t(i)].code == code) {
                    found = i;
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
    return found;
}

bool FakeChatServer::WaitForClosed(int connection, int timeoutMs)
{
    return WaitFor([&] { return ClosedAtMs(connection) >= 0; }, timeoutMs);
}

} // namespace velmora::test
