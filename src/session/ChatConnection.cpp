#include "session/ChatConnection.h"

#include "protocol/ChatMessages.h"
#include "protocol/Codec.h"

#include <QElapsedTimer>

namespace velmora {

TChatConnection::TChatConnection(IChatView &view, QObject *parent) : QObject(parent), m_view(view)
{
    m_clockTimer.setInterval(1000);
    connect(&m_clockTimer, &QTimer::timeout, this, [this] { Tick(); });
    m_paceTimer.setSingleShot(true);
    connect(&m_paceTimer, &QTimer::timeout, this, [this] { PaceNext(); });
}

TChatConnection::~TChatConnection()
{
    Release();
}

bool TChatConnection::Open(const QString &host, quint16 port)
{
    Release();
    auto *socket = new TClientSocket;
    socket->SetHost(host);
    socket->SetPort(port);
    m_socket = socket;
    m_worker = std::make_unique<TSocketBuff>();
    Install();
    connect(socket, &TClientSocket::Connected, this, [this] { m_view.ChatConnected(); });
    return socket->Open();
}

void TChatConnection::TakeOver(TClientSocket *socket, std::unique_ptr<TSocketBuff> worker)
{
    m_socket = socket;
    m_worker = std::move(worker);
    if (!m_socket)
        return;
    m_socket->Detach();
    Install();
}

void TChatConnection::Install()
{
    m_socket->SetFrameHandler([this](quint16 code, const QByteArray &body) { ProcessMessage(code, body); });
    connect(m_socket, &TClientSocket::Disconnected, this, [this] { OnDisconnected(); });
    connect(m_socket, &TClientSocket::Error, this, [this](int code) { m_view.ConnectionError(code); });
}

void TChatConnection::Release()
{
    m_clockTimer.stop();
    m_paceTimer.stop();
    m_pacing = false;
    m_paceQueue.clear();
    m_held.clear();
    m_paceDone = nullptr;
    if (TClientSocket *socket = m_socket) {
        socket->Detach();
        socket->Close();
        socket->deleteLater();
    }
    m_socket = nullptr;
    // The worker keeps the descriptor until it has let go of it; what is
    // still queued for a closed connection is dropped.
    m_worker.reset();
}

void TChatConnection::Send(const QByteArray &frame)
{
    if (m_socket && m_worker)
        QueueMessage(*m_socket, *m_worker, frame);
}

void TChatConnection::Send(const std::optional<QByteArray> &frame)
{
    if (frame)
        Send(*frame);
}

void TChatConnection::SendPaced(QList<QByteArray> frames, int pauseMs, std::function<void()> done)
{
    m_paceQueue += frames;
    m_paceMs = pauseMs;
    if (done)
        m_paceDone = std::move(done);
    if (!m_pacing) {
        m_pacing = true;
        PaceNext();
    }
}

void TChatConnection::PaceNext()
{
    if (!m_paceQueue.isEmpty()) {
        Send(m_paceQueue.takeFirst());
        m_paceTimer.start(m_paceMs);
        return;
    }
    m_pacing = false;
    if (auto done = std::exchange(m_paceDone, nullptr))
        done();
    // The far end's frames in the order they came, as if the pauses had blocked.
    QPointer<TChatConnection> self(this);
    while (self && !m_pacing && !m_held.isEmpty()) {
        const auto frame = m_held.takeFirst();
        ProcessMessage(frame.first, frame.second);
    }
}

bool TChatConnection::SendLine(const QByteArray &wireText)
{
    if (wireText.isEmpty())
        return false;
    Send(chat::BuildChatText(wireText));
    return true;
}

void TChatConnection::InputChanged(bool empty)
{
    if (!m_typingNoticeSent && !empty) {
        m_typingNoticeSent = true;
        Send(chat::BuildTypingStart());
    } else if (empty) {
        m_typingNoticeSent = false;
        Send(chat::BuildTypingStop());
    }
}

void TChatConnection::StartClock()
{
    m_clock = 0;
    Tick();
    m_clockTimer.start();
}

void TChatConnection::StopClock()
{
    m_clockTimer.stop();
}

void TChatConnection::Tick()
{
    ++m_clock;
    if (m_clock % kKeepAliveSeconds == 0)
        Send(chat::BuildChatKeepAlive());
    m_view.ClockTicked(m_clock);
}

void TChatConnection::EndSession()
{
    if (m_ended)
        return;
    Send(chat::BuildEndSession());
    m_ended = true;
}

void TChatConnection::WhenSent(std::function<void(bool timedOut)> done)
{
    auto *poll = new QTimer(this);
    auto started = std::make_shared<QElapsedTimer>();
    started->start();
    auto check = [this, poll, started, done = std::move(done)] {
        const bool empty = !m_worker || m_worker->QueuedPieces() == 0;
        const bool late = started->elapsed() >= kSendWaitMs;
        if (!empty && !late)
            return;
        poll->stop();
        poll->deleteLater();
        done(!empty);
    };
    connect(poll, &QTimer::timeout, this, check);
    poll->start(10);
    QTimer::singleShot(0, poll, check);
}

void TChatConnection::OnDisconnected()
{
    if (m_lostReported)
        return;
    m_lostReported = true;
    m_view.ConnectionLost();
}

void TChatConnection::ProcessMessage(quint16 code, const QByteArray &body)
{
    if (m_pacing) {
        m_held.append({code, body});
        return;
    }
    switch (code) {
    case chat::CHAT_TEXT:
        if (const auto text = chat::DecodeChatText(body)) {
            m_remoteTyping = false;
            m_view.RemoteLine(FromWire(*text));
        }
        break;
    case chat::TYPING_START:
        m_remoteTyping = true;
        m_view.RemoteTypingChanged(true);
        break;
    case chat::TYPING_STOP:
        m_remoteTyping = false;
        m_view.RemoteTypingChanged(false);
        break;
    case chat::END_SESSION:
        m_ended = true;
        m_remoteTyping = false;
        m_view.RemoteEnded();
        break;
    case chat::CHAT_KEEP_ALIVE:
        break;
    default:
        m_view.OtherMessage(code, body);
        break;
    }
}

} // namespace velmora
