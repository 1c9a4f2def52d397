#include "session/ClientSocket.h"

#include "session/WsaErrors.h"

#include <QHostInfo>
#include <QSocketNotifier>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <utility>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

namespace velmora {

namespace {

// One notification takes at most this much before handing out frames, so a
// flooding peer cannot hold the GUI thread in a single read loop; the
// notifier fires again for the rest.
constexpr qsizetype kReadRound = 2 * 1024 * 1024;
// Bytes kept for a socket that has no frame handler (between two owners);
// beyond this the socket stops reading until ReadNow().
constexpr qsizetype kMaxHeldWithoutHandler = 2 * (kHeaderSize + qsizetype(kMaxBodyLength));

int NewStreamSocket(int family)
{
    return ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
}

} // namespace

SocketHandle::~SocketHandle()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

TClientSocket::TClientSocket(QObject *parent) : QObject(parent) {}

TClientSocket::~TClientSocket()
{
    Teardown();
}

int TClientSocket::Handle() const
{
    return m_handle ? m_handle->Fd() : -1;
}

bool TClientSocket::Open()
{
    Teardown();
    m_muted = false;
    m_peerAddress.clear();
    const int fd = NewStreamSocket(AF_INET);
    if (fd < 0)
        return false;
    m_handle = std::make_shared<SocketHandle>(fd);

    const quint32 generation = m_generation;
    QHostAddress literal;
    const QString host = m_host.trimmed();
    if (literal.setAddress(host)) {
        m_address = literal;
        // Never report from inside Open(): the caller is not ready for signals yet.
        QMetaObject::invokeMethod(
            this, [this, generation] { if (generation == m_generation) StartConnect(); },
            Qt::QueuedConnection);
    } else if (host.isEmpty()) {
        QMetaObject::invokeMethod(
            this, [this, generation] { if (generation == m_generation) FailConnect(kWsaHostNotFound); },
            Qt::QueuedConnection);
    } else {
        m_lookupId = QHostInfo::lookupHost(host, this, &TClientSocket::OnHostResolved);
    }
    return true;
}

void TClientSocket::OnHostResolved(const QHostInfo &info)
{
    if (info.lookupId() != m_lookupId || !m_handle)
        return;
    m_lookupId = -1;
    // IPv4 first: the chat servers are reached over IPv4.
    QHostAddress chosen;
    for (const QHostAddress &address : info.addresses()) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol) {
            chosen = address;
            break;
        }
        if (chosen.isNull() && address.protocol() == QAbstractSocket::IPv6Protocol)
            chosen = address;
    }
    if (info.error() != QHostInfo::NoError || chosen.isNull()) {
        FailConnect(kWsaHostNotFound);
        return;
    }
    m_address = chosen;
    StartConnect();
}

void TClientSocket::StartConnect()
{
    if (!m_handle)
        return;
    sockaddr_storage storage;
    std::memset(&storage, 0, sizeof storage);
    socklen_t length = 0;
    bool ok = false;
    if (m_address.protocol() == QAbstractSocket::IPv6Protocol) {
        const int fd = NewStreamSocket(AF_INET6);
        if (fd < 0) {
            FailConnect(WsaFromErrno(errno));
            return;
        }
        m_handle = std::make_shared<SocketHandle>(fd);
        auto *in6 = reinterpret_cast<sockaddr_in6 *>(&storage);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(m_port);
        const Q_IPV6ADDR raw = m_address.toIPv6Address();
        std::memcpy(&in6->sin6_addr, &raw, sizeof raw);
        length = sizeof(sockaddr_in6);
        ok = true;
    } else {
        bool isV4 = false;
        const quint32 v4 = m_address.toIPv4Address(&isV4);
        if (isV4) {
            auto *in4 = reinterpret_cast<sockaddr_in *>(&storage);
            in4->sin_family = AF_INET;
            in4->sin_port = htons(m_port);
            in4->sin_addr.s_addr = htonl(v4);
            length = sizeof(sockaddr_in);
            ok = true;
        }
    }
    if (!ok) {
        FailConnect(kWsaHostNotFound);
        return;
    }

    const int fd = m_handle->Fd();
    int rc;
    do {
        rc = ::connect(fd, reinterpret_cast<const sockaddr *>(&storage), length);
    } while (rc < 0 && errno == EINTR);
    if (rc == 0) {
        OnConnectedNow();
        return;
    }
    if (errno != EINPROGRESS) {
        FailConnect(WsaFromErrno(errno));
        return;
    }
    m_writeNotifier = new QSocketNotifier(fd, QSocketNotifier::Write, this);
    QObject::connect(m_writeNotifier, &QSocketNotifier::activated, this, &TClientSocket::OnWritable);
}

void TClientSocket::OnWritable()
{
    if (!m_handle)
        return;
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(m_handle->Fd(), SOL_SOCKET, SO_ERROR, &error, &length) < 0)
        error = errno;
    if (m_writeNotifier) {
        m_writeNotifier->setEnabled(false);
        m_writeNotifier->disconnect(this);
        m_writeNotifier->deleteLater();
        m_writeNotifier = nullptr;
    }
    if (error != 0)
        FailConnect(WsaFromErrno(error));
    else
        OnConnectedNow();
}

void TClientSocket::OnConnectedNow()
{
    m_connected = true;
    m_peerAddress = m_address.toString();
    ApplyKeepAlive();
    m_readNotifier = new QSocketNotifier(m_handle->Fd(), QSocketNotifier::Read, this);
    QObject::connect(m_readNotifier, &QSocketNotifier::activated, this, &TClientSocket::OnReadable);
    emit Connected();
}

void TClientSocket::ApplyKeepAlive()
{
    if (m_keepAlive.idleSeconds <= 0 || !m_handle)
        return;
    const int fd = m_handle->Fd();
    const int on = 1;
    // Unacknowledged data (a keep-alive frame sent into the void) would
    // otherwise hold the probes off for the quarter hour of retransmissions:
    // the same bound applies to it.
    const unsigned userTimeoutMs =
        unsigned(m_keepAlive.idleSeconds + m_keepAlive.intervalSeconds * m_keepAlive.probes) * 1000u;
    // Best effort: a socket without these options still works as before.
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &m_keepAlive.idleSeconds, sizeof(int));
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &m_keepAlive.intervalSeconds, sizeof(int));
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &m_keepAlive.probes, sizeof(int));
    ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeoutMs, sizeof userTimeoutMs);
}

void TClientSocket::FailConnect(int wsaCode)
{
    Teardown();
    emit Error(wsaCode);
}

void TClientSocket::DropConnection(int wsaCode)
{
    Teardown();
    if (wsaCode == 0)
        emit Disconnected();
    else
        emit Error(wsaCode);
}

bool TClientSocket::HoldingTooMuch() const
{
    return (!m_frameHandler || m_holds > 0) && m_in.Pending() > kMaxHeldWithoutHandler;
}

TClientSocket::ReadOutcome TClientSocket::Drain(qsizetype &budget)
{
    const int fd = m_handle->Fd();
    while (budget > 0) {
        if (HoldingTooMuch()) {
            // Nobody to hand frames to: let the peer wait (TCP flow control)
            // instead of growing without bound.
            if (m_readNotifier)
                m_readNotifier->setEnabled(false);
            return ReadOutcome::Open;
        }
        // Straight into the buffer (and into a large body's own array).
        const FrameBuffer::Room room = m_in.Space();
        if (room.size[0] == 0)
            return ReadOutcome::Open; // an oversized frame: the dispatch drops the connection
        iovec parts[2] = {{room.data[0], size_t(room.size[0])}, {room.data[1], size_t(room.size[1])}};
        const ssize_t n = room.size[1] > 0 ? ::readv(fd, parts, 2) : ::recv(fd, room.data[0], parts[0].iov_len, 0);
        if (n > 0) {
            m_in.Commit(n);
            budget -= n;
            // Frames are handed out as they complete, so their arrays are
            // used again at once instead of a whole round's being held.
            if (m_in.HasFrame() && m_frameHandler && m_holds == 0)
                return ReadOutcome::Batch;
            continue;
        }
        if (n == 0)
            return ReadOutcome::PeerClosed;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return ReadOutcome::Open;
        m_readErrno = errno;
        return ReadOutcome::Failed;
    }
    return ReadOutcome::Open;
}

void TClientSocket::OnReadable()
{
    if (!m_handle || !m_connected || m_muted)
        return;
    if (m_dispatchDepth > 0 && !m_nestedDispatch) {
        // A handler is still running (in a nested event loop): the bytes wait
        // in the socket until it returns, so frames are never handled out of order.
        if (m_readNotifier)
            m_readNotifier->setEnabled(false);
        return;
    }
    if (m_pendingOutcome)
        return; // the connection has ended; what is left waits for Resume()
    qsizetype budget = kReadRound;
    for (;;) {
        const ReadOutcome outcome = Drain(budget);
        if (m_holds > 0) {
            // Nothing is handed out during an exchange; the end of the
            // connection, too, waits behind the frames that came before it.
            if (outcome == ReadOutcome::PeerClosed || outcome == ReadOutcome::Failed) {
                m_pendingOutcome = outcome;
                if (m_readNotifier)
                    m_readNotifier->setEnabled(false);
            }
            return;
        }
        if (!DispatchFrames())
            return;
        if (outcome == ReadOutcome::PeerClosed)
            DropConnection(0);
        else if (outcome == ReadOutcome::Failed)
            DropConnection(WsaFromErrno(m_readErrno));
        // A handler may have held, muted or closed the connection meanwhile.
        if (outcome != ReadOutcome::Batch || m_holds > 0 || !m_handle || !m_connected || m_muted)
            return;
    }
}

void TClientSocket::ReadNow()
{
    if (m_readNotifier && m_dispatchDepth == 0 && m_holds == 0 && !m_pendingOutcome)
        m_readNotifier->setEnabled(true);
    OnReadable();
}

void TClientSocket::Hold()
{
    ++m_holds;
}

void TClientSocket::Release()
{
    if (m_holds == 0)
        return;
    if (--m_holds == 0)
        ScheduleResume();
}

void TClientSocket::ScheduleResume()
{
    // From the event loop: Release() runs at the end of an exchange step,
    // which must not find itself inside a frame handler of its own connection.
    if (m_resumeQueued)
        return; // one is on its way; it looks at everything there is
    m_resumeQueued = true;
    const quint32 generation = m_generation;
    QMetaObject::invokeMethod(
        this,
        [this, generation] {
            m_resumeQueued = false;
            if (generation == m_generation)
                Resume();
        },
        Qt::QueuedConnection);
}

void TClientSocket::Resume()
{
    if (!m_handle || !m_connected || m_muted || m_holds > 0)
        return;
    if (m_dispatchDepth > 0 && !m_nestedDispatch)
        return; // the running loop looks at the buffer again after its handler
    if (!DispatchFrames())
        return;
    if (m_holds > 0)
        return; // a handler began another exchange
    if (const std::optional<ReadOutcome> outcome = std::exchange(m_pendingOutcome, std::nullopt)) {
        if (*outcome == ReadOutcome::PeerClosed)
            DropConnection(0);
        else
            DropConnection(WsaFromErrno(m_readErrno));
        return;
    }
    if (m_readNotifier && m_dispatchDepth == 0 && !HoldingTooMuch())
        m_readNotifier->setEnabled(true);
    // Bytes may have arrived while the notifier was off.
    OnReadable();
}

bool TClientSocket::DispatchFrames()
{
    if (m_dispatchDepth > 0 && !m_nestedDispatch)
        return true; // the running loop looks at the buffer again after its handler
    QPointer<TClientSocket> self(this);
    const quint32 generation = m_generation;
    const bool holdReads = !m_nestedDispatch;
    if (holdReads && m_readNotifier)
        m_readNotifier->setEnabled(false);
    ++m_dispatchDepth;
    while (m_frameHandler && m_holds == 0) {
        Frame frame;
        const FrameBuffer::Result result = m_in.TakeFrame(frame);
        if (result == FrameBuffer::Result::NeedMore)
            break;
        if (result == FrameBuffer::Result::TooLarge) {
            --m_dispatchDepth;
            DropConnection(0);
            return false;
        }
        // A copy: the handler may replace or clear itself (a new owner).
        const FrameHandler handler = m_frameHandler;
        // Frames already read must not wait for new bytes to arrive while
        // this handler runs a nested loop (an alert): the loop hands them out.
        if (m_nestedDispatch && m_in.Pending() > 0)
            ScheduleResume();
        handler(frame.code, frame.body);
        if (!self)
            return false;
        if (generation != m_generation) {
            --m_dispatchDepth;
            return false; // closed (or reopened) by the handler
        }
        m_in.Recycle(std::move(frame.body));
    }
    --m_dispatchDepth;
    if (holdReads && m_readNotifier && m_dispatchDepth == 0 && m_holds == 0 && !m_pendingOutcome
        && !HoldingTooMuch())
        m_readNotifier->setEnabled(true);
    return true;
}

void TClientSocket::StopNotifiers()
{
    for (QSocketNotifier **notifier : {&m_readNotifier, &m_writeNotifier}) {
        if (!*notifier)
            continue;
        (*notifier)->setEnabled(false);
        (*notifier)->disconnect(this);
        // Later: this may run inside the notifier's own activation.
        (*notifier)->deleteLater();
        *notifier = nullptr;
    }
}

void TClientSocket::Mute()
{
    ++m_generation;
    if (m_lookupId != -1) {
        QHostInfo::abortHostLookup(m_lookupId);
        m_lookupId = -1;
    }
    StopNotifiers();
    m_muted = true;
}

void TClientSocket::Teardown()
{
    ++m_generation;
    if (m_lookupId != -1) {
        QHostInfo::abortHostLookup(m_lookupId);
        m_lookupId = -1;
    }
    StopNotifiers();
    if (m_handle) {
        ::shutdown(m_handle->Fd(), SHUT_RDWR);
        m_handle.reset();
    }
    m_connected = false;
    m_pendingOutcome.reset();
    m_in.Clear();
}

void TClientSocket::Close()
{
    Teardown();
}

void TClientSocket::Detach()
{
    m_frameHandler = nullptr;
    disconnect(this, nullptr, nullptr, nullptr);
}

} // namespace velmora
