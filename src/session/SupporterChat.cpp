#include "session/SupporterChat.h"

#include "config/Settings.h"
#include "diag/AnsiText.h"
#include "protocol/ChatMessages.h"
#include "protocol/MessageCodes.h"

namespace velmora {

TSupporterChat::TSupporterChat(ISupporterChatView &view, qint32 port, QObject *parent)
    : TChatConnection(view, parent), m_view(view), m_port(port)
{
}

bool TSupporterChat::Begin()
{
    // The connect is not waited for: its outcome arrives as ChatConnected
    // or ConnectionError.
    const TSettings &settings = Settings();
    const bool opened = Open(settings.WebSiteUrl, quint16(settings.WebListenPort.toUInt()));
    SetEnded(false);
    TArchiveChat record;
    record.Kind = server::SUPPORT_CHAT_LISTED;
    record.Supporter = settings.SupportName;
    BeginArchive(record, archive::Who::OtherSupporter);
    StartClock();
    return opened;
}

void TSupporterChat::Leave()
{
    EndSession();
    m_left = true;
}

void TSupporterChat::ProcessMessage(quint16 code, const QByteArray &body)
{
    switch (code) {
    case chat::INITIAL_CONNECT:
        if (m_left)
            return;
        Send(chat::BuildSupportChatRequest(ToWire(Settings().ClientID), m_port));
        m_refusalsDue = 1;
        m_view.RequestSent();
        return;
    case chat::SUPPORT_LISTED:
        if (!m_left)
            m_view.SupportListed();
        return;
    case chat::SESSION_READY:
        if (!m_left)
            HandleSessionReady(body);
        return;
    case chat::WELCOME_MSG:
        if (const std::optional<QByteArray> text = chat::DecodeWelcomeMsg(body); text && !m_left)
            m_view.Welcomed(FromWire(*text));
        return;
    case chat::SUPPORT_WELCOME:
        if (const std::optional<chat::SupportWelcome> welcome = chat::DecodeSupportWelcome(body);
            welcome && !m_left) {
            m_remoteName = welcome->SupportName();
            NameArchiveFarEnd(m_remoteName);
            m_view.SupporterAnswered(m_remoteName, welcome->WelcomeText());
        }
        return;
    case chat::SUPPORT_UNAVAILABLE:
    case chat::SUPPORT_IN_MAINTENANCE:
        if (!m_left && m_refusalsDue > 0) {
            --m_refusalsDue;
            m_view.SupportRefused(code == chat::SUPPORT_IN_MAINTENANCE);
        }
        return;
    default:
        TChatConnection::ProcessMessage(code, body);
    }
}

void TSupporterChat::HandleSessionReady(const QByteArray &body)
{
    const std::optional<qint32> sc = chat::DecodeSessionReady(body);
    if (!sc)
        return;
    m_sessionCount = *sc;
    NumberArchive(*sc);
    QList<QByteArray> frames{chat::BuildSessionReady(*sc)};
    if (const auto details = chat::BuildUserDetails(ToWire(Settings().SupportName),
                                                    QByteArrayLiteral("Not Supplied !"), QByteArray()))
        frames << *details;
    SendPaced(frames, kDetailsPauseMs);
}

} // namespace velmora
