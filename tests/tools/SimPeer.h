#pragma once
// A raw client of the simulator for tests: a loopback socket that collects
// every frame it receives.
#include "protocol/Codec.h"
#include "protocol/MessageCodes.h"
#include "support/TestUtil.h"

#include <QTcpSocket>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace velmora::test {

class SimPeer {
public:
    explicit SimPeer(quint16 port)
    {
        QObject::connect(&m_socket, &QTcpSocket::readyRead, [this] {
            m_buffer.Append(m_socket.readAll());
            Frame frame;
            while (m_buffer.TakeFrame(frame) == FrameBuffer::Result::Frame)
                frames.push_back(frame);
        });
        m_socket.connectToHost(QHostAddress::LocalHost, port);
    }

    void Send(const std::optional<QByteArray> &frame)
    {
        ASSERT_TRUE(frame.has_value());
        m_socket.write(*frame);
        m_socket.flush();
    }
    void SendRaw(const QByteArray &bytes)
    {
        m_socket.write(bytes);
        m_socket.flush();
    }

    // The next frame with `code` after the last one taken; frames with other
    // codes in between are skipped.
    std::optional<Frame> Next(quint16 code, int ms = 15000)
    {
        std::optional<Frame> found;
        WaitFor(
            [&] {
                for (size_t i = m_cursor; i < frames.size(); ++i)
                    if (frames[i].code == code) {
                        found = frames[i];
                        m_cursor = i + 1;
                        return true;
                    }
                return false;
            },
            ms);
        return found;
    }

    // Codes received so far, from the first frame on.
    std::vector<quint16> Codes() const
    {
        std::vector<quint16> codes;
        for (const Frame &f : frames)
            codes.push_back(f.code);
        return codes;
    }
    int Count(quint16 code) const
    {
        int n = 0;
        for (const Frame &f : frames)
            n += f.code == code;
        return n;
    }

    bool WaitClosed(int ms = 15000)
    {
        return WaitFor([&] { return m_socket.state() == QAbstractSocket::UnconnectedState; }, ms);
    }
    void Close() { m_socket.disconnectFromHost(); }

    std::vector<Frame> frames;

private:
    QTcpSocket m_socket;
    FrameBuffer m_buffer;
    size_t m_cursor = 0;
};

inline qint32 IntAt(const Frame &frame, int index)
{
    FieldReader r(frame.body);
    qint32 value = 0;
    for (int i = 0; i <= index; ++i)
        value = r.Int();
    return r.Ok() ? value : -12345;
}

} // namespace velmora::test
