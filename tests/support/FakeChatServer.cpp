#include "support/FakeChatServer.h"

#include "support/TestUtil.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtEndian>

namespace velmora::test {

QByteArray MakeFrame(quint16 code, const QByteArray &body)
{
    QByteArray frame(kHeaderSize, '\0');
    qToBigEndian<quint16>(code, frame.data());
    qToBigEndian<quint32>(quint32(body.size()), frame.data() + 2);
    frame.append(body);
    return frame;
}

FakeChatServer::FakeChatServer(QObject *parent) : QObject(parent)
{
    m_clock.start();
    m_server = new QTcpServer(this);
    connect(m_server, &QTcpServer::newConnection, this, &FakeChatServer::OnNewConnection);
    if (m_server->listen(QHostAddress::LocalHost, 0))
        m_port = m_server->serverPort();
}

FakeChatServer::~FakeChatServer()
{
    for (Connection &c : m_connections) {
        if (c.socket) {
            c.socket->disconnect(this);
            c.socket->abort();
        }
    }
}

bool FakeChatServer::IsListening() const
{
    return m_server->isListening();
}

void FakeChatServer::StopAccepting()
{
    m_server->close();
}

void FakeChatServer::OnNewConnection()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        const int index = ConnectionCount();
        m_connections.push_back(Connection{});
        m_connections.back().socket = socket;
        socket->setParent(this);
        connect(socket, &QTcpSocket::readyRead, this, [this, index] { OnReadyRead(index); });
        connect(socket, &QTcpSocket::disconnected, this, [this, index] { OnDisconnected(index); });
        if (m_sendInitialConnect)
            SendFrame(index, 1);
        emit ConnectionAccepted(index);
    }
}

void FakeChatServer::OnReadyRead(int connection)
{
    Connection &c = m_connections[std::size_t(connection)];
    if (!c.socket)
        return;
    const QByteArray bytes = c.socket->readAll();
    c.raw.append(bytes);
    c.in.Append(bytes);
    for (;;) {
        Frame frame;
        const FrameBuffer::Result result = c.in.TakeFrame(frame);
        if (result == FrameBuffer::Result::NeedMore)
            break;
        if (result == FrameBuffer::Result::TooLarge) {
            c.protocolError = true;
            CloseConnection(connection);
            break;
        }
        m_frames.push_back(ReceivedFrame{connection, frame.code, frame.body, m_clock.elapsed()});
        emit FrameReceived(connection, frame.code, frame.body);
    }
}

void FakeChatServer::OnDisconnected(int connection)
{
    Connection &c = m_connections[std::size_t(connection)];
    if (c.socket && c.socket->bytesAvailable() > 0)
        OnReadyRead(connection);
    if (c.closedAtMs < 0) {
        c.closedAtMs = m_clock.elapsed();
        emit ConnectionClosed(connection);
    }
}

std::vector<ReceivedFrame> FakeChatServer::FramesOn(int connection) const
{
    std::vector<ReceivedFrame> out;
    for (const ReceivedFrame &f : m_frames)
        if (f.connection == connection)
            out.push_back(f);
    return out;
}

QByteArray FakeChatServer::RawBytes(int connection) const
{
    return Valid(connection) ? m_connections[std::size_t(connection)].raw : QByteArray();
}

bool FakeChatServer::IsOpen(int connection) const
{
    return Valid(connection) && m_connections[std::size_t(connection)].closedAtMs < 0;
}

qint64 FakeChatServer::ClosedAtMs(int connection) const
{
    return Valid(connection) ? m_connections[std::size_t(connection)].closedAtMs : -1;
}

bool FakeChatServer::ProtocolError(int connection) const
{
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
    QTcpSocket *socket = m_connections[std::size_t(connection)].socket;
    if (!socket)
        return false;
    if (socket->write(bytes) != bytes.size())
        return false;
    socket->flush();
    return true;
}

void FakeChatServer::CloseConnection(int connection)
{
    if (!Valid(connection))
        return;
    Connection &c = m_connections[std::size_t(connection)];
    if (c.socket) {
        c.socket->flush();
        c.socket->disconnectFromHost();
    }
    if (c.closedAtMs < 0) {
        c.closedAtMs = m_clock.elapsed();
        emit ConnectionClosed(connection);
    }
}

bool FakeChatServer::WaitForConnections(int count, int timeoutMs)
{
    return WaitFor([&] { return ConnectionCount() >= count; }, timeoutMs);
}

bool FakeChatServer::WaitForFrames(int count, int timeoutMs)
{
    return WaitFor([&] { return int(m_frames.size()) >= count; }, timeoutMs);
}

int FakeChatServer::WaitForFrame(quint16 code, int timeoutMs, int from)
{
    int found = -1;
    WaitFor(
        [&] {
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
    return WaitFor([&] { return Valid(connection) && ClosedAtMs(connection) >= 0; }, timeoutMs);
}

} // namespace velmora::test
