#include "session/ChatConnection.h"

#include "config/Settings.h"
#include "diag/AnsiText.h"
#include "protocol/ChatMessages.h"
#include "protocol/Codec.h"
#include "session/Exchange.h"

#include <QFileInfo>

namespace velmora {

TChatConnection::TChatConnection(IChatView &view, QObject *parent) : QObject(parent), m_view(view)
{
    m_clockTimer.setInterval(1000);
    connect(&m_clockTimer, &QTimer::timeout, this, [this] { Tick(); });
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

void TChatConnection::ArchiveLine(archive::Who from, const QString &name, const QString &text)
{
    ArchiveLine(TArchiveLine::Said(from, name, text));
}

void TChatConnection::ArchiveLine(TArchiveLine line)
{
    if (TArchiveRecorder *recorder = ArchiveRecorder(); recorder && m_archiveChat)
        recorder->AddLine(m_archiveChat, std::move(line));
}

void TChatConnection::ArchiveUrl(const QString &url)
{
    TArchiveLine line = TArchiveLine::Said(archive::Who::Operator, Settings().SupportName, url);
    line.Kind = archive::LineKind::Url;
    ArchiveLine(std::move(line));
}

void TChatConnection::ArchiveImage(const QString &fileName, const QByteArray &bytes)
{
    TArchiveLine line = TArchiveLine::Said(archive::Who::Operator, Settings().SupportName, QString());
    line.Kind = archive::LineKind::Image;
    line.ImageName = QFileInfo(fileName).fileName();
    line.ImageSize = bytes.size();
    // A larger one keeps its name and size only.
    if (bytes.size() <= archive::kMaxImageBytes)
        line.Image = bytes;
    ArchiveLine(std::move(line));
}

void TChatConnection::NameArchiveOtherSupporter(const QString &name)
{
    if (TArchiveRecorder *recorder = ArchiveRecorder(); recorder && m_archiveChat)
        recorder->SetOtherSupporter(m_archiveChat, name);
}

void TChatConnection::NumberArchive(qint32 sessionCount)
{
    if (TArchiveRecorder *recorder = ArchiveRecorder(); recorder && m_archiveChat)
        recorder->SetSessionCount(m_archiveChat, sessionCount);
}

void TChatConnection::AttributeArchivedLines(const QString &name)
{
    if (TArchiveRecorder *recorder = ArchiveRecorder(); recorder && m_archiveChat)
        recorder->AttributeToVisitor(m_archiveChat, name);
}

void TChatConnection::BeginArchive(const TArchiveChat &chat, archive::Who farEnd)
{
    TArchiveRecorder *recorder = ArchiveRecorder();
    if (!recorder)
        return;
    m_archiveChat = recorder->BeginChat(chat);
    m_archiveFarEnd = farEnd;
    m_archiveFarName = chat.Visitor;
}

void TChatConnection::AdoptArchive(TArchiveRecorder::Handle chat, archive::Who farEnd, const QString &farName)
{
    m_archiveChat = chat;
    m_archiveFarEnd = farEnd;
    m_archiveFarName = farName;
}

void TChatConnection::NameArchiveFarEnd(const QString &name, const QString &email, const QString &phone)
{
    m_archiveFarName = name;
    TArchiveRecorder *recorder = ArchiveRecorder();
    if (!recorder || !m_archiveChat)
        return;
    TArchiveChat details;
    details.Visitor = name;
    details.Email = email;
    details.Phone = phone;
    if (m_archiveFarEnd == archive::Who::OtherSupporter)
        details.OtherSupporter = name;
    recorder->UpdateCaller(m_archiveChat, details);
}

void TChatConnection::EndArchive(const QString &status, archive::EndedBy by)
{
    if (TArchiveRecorder *recorder = ArchiveRecorder(); recorder && m_archiveChat)
        recorder->EndChat(m_archiveChat, status, by);
    m_archiveChat = 0;
}

void TChatConnection::Release()
{
    EndArchive(QString());
    m_clockTimer.stop();
    // Exchanges still running end here: their sends would be dropped anyway,
    // and what they would do next belongs to a chat that is over.
    for (TExchange *exchange : findChildren<TExchange *>(Qt::FindDirectChildrenOnly))
        exchange->Stop();
    if (TClientSocket *socket = m_socket) {
        socket->Detach();
        socket->Close();
        socket->deleteLater();
    }
    m_socket = nullptr;
    m_remoteTyping = false;
    // The worker keeps the descriptor until it has let go of it; what is
    // still queued for a closed connection is dropped.
    m_worker.reset();
}

void TChatConnection::Send(const QByteArray &frame)
{
    if (!m_ended)
        SendAlways(frame);
}

bool TChatConnection::SendAlways(const QByteArray &frame)
{
    return m_socket && m_worker && QueueMessage(*m_socket, *m_worker, frame);
}

void TChatConnection::ReadWaiting()
{
    if (m_socket)
        m_socket->ReadNow();
}

void TChatConnection::Send(const std::optional<QByteArray> &frame)
{
    if (frame)
        Send(*frame);
}

void TChatConnection::SendPaced(QList<QByteArray> frames, int pauseMs, std::function<void()> done)
{
    auto *exchange = new TExchange(this, {m_socket.data()});
    for (const QByteArray &frame : frames)
        exchange->Then([this, frame] { Send(frame); }).Pause(pauseMs);
    if (done)
        exchange->Then(std::move(done));
    m_pacing = exchange;
    exchange->Start();
}

bool TChatConnection::Pacing() const
{
    const auto *exchange = qobject_cast<const TExchange *>(m_pacing.data());
    return exchange && !exchange->Done();
}

bool TChatConnection::SendLine(const QByteArray &wireText, archive::LineKind kind)
{
    if (wireText.isEmpty())
        return false;
    Send(chat::BuildChatText(wireText));
    TArchiveLine line = TArchiveLine::Said(archive::Who::Operator, Settings().SupportName, FromAnsi(wireText));
    line.Kind = kind;
    ArchiveLine(std::move(line));
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
    auto timedOut = std::make_shared<bool>(false);
    auto *exchange = new TExchange(this, {m_socket.data()});
    exchange->WaitUntilSent([this] { return m_worker.get(); }, [timedOut] { *timedOut = true; })
        .Then([timedOut, done = std::move(done)] { done(*timedOut); })
        .Start();
}

void TChatConnection::OnDisconnected()
{
    if (m_lostReported)
        return;
    m_lostReported = true;
    m_remoteTyping = false;
    m_view.ConnectionLost();
}

void TChatConnection::ProcessMessage(quint16 code, const QByteArray &body)
{
    switch (code) {
    case chat::CHAT_TEXT:
        if (const auto text = chat::DecodeChatText(body)) {
            m_remoteTyping = false;
            const QString line = FromWire(*text);
            ArchiveLine(m_archiveFarEnd, m_archiveFarName, line);
            m_view.RemoteLine(line);
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
