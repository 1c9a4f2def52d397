#include "session/CustomerChat.h"

#include "config/Settings.h"
#include "diag/AnsiText.h"
#include "diag/Logdata.h"
#include "protocol/ChatMessages.h"
#include "protocol/MessageCodes.h"
#include "session/CallList.h"
#include "session/Exchange.h"
#include "session/UserDetails.h"

namespace velmora {

TCustomerChat::TCustomerChat(ICustomerChatView &view, IChatCalls &calls, std::function<TLogFile *()> log,
                             QObject *parent)
    : TChatConnection(view, parent), m_view(view), m_calls(calls), m_log(std::move(log))
{
}

void TCustomerChat::Begin(ChatItem *record)
{
    m_record = record;
    if (record) {
        m_kind = record->Kind;
        m_sessionCount = record->SessionCount;
        m_callingFrom = record->WebSite;
        if (record->OnHold) {
            m_name = record->Name;
            m_email = record->Email;
            m_phone = record->Phone;
        }
        TakeOver(record->Socket, std::move(record->SendWorker));
    }
    m_transferring = false;
    SetEnded(false);

    // Keep-alive first, then the clock (showing 0:00:01 at once).
    Send(chat::BuildChatKeepAlive());
    StartClock();
    const TSettings &settings = Settings();
    Send(chat::BuildSupportWelcome(settings.SupportName, settings.SupportWelcomeMsg));
    Send(chat::BuildChatOptions(settings.EmptyLineAdd));
    MarkStatus(CallStatusInChat);
    // What the visitor wrote while the call waited comes first; the archive
    // has it already, in the record the chat goes on with.
    const qint64 early = record ? std::exchange(record->ArchiveChat, 0) : 0;
    if (early)
        AdoptArchive(early, FarEnd(), m_name);
    else
        BeginArchive(record);
    if (record) {
        record->EarlyChars = 0;
        for (const QString &line : std::exchange(record->EarlyLines, {})) {
            if (!early)
                ArchiveLine(FarEnd(), m_name, line);
            m_view.RemoteLine(line);
        }
    }
}

archive::Who TCustomerChat::FarEnd() const
{
    return IsSupporterChat() ? archive::Who::OtherSupporter : archive::Who::Visitor;
}

void TCustomerChat::BeginArchive(const ChatItem *record)
{
    TArchiveChat chat;
    chat.SessionCount = m_sessionCount;
    chat.Kind = m_kind;
    chat.Visitor = m_name;
    chat.Email = m_email;
    chat.Site = m_callingFrom;
    chat.IP = record ? record->IP : QString();
    if (record) {
        chat.Announced = record->Announced;
        chat.Answered = record->Answered;
        chat.HeldFrom = record->HeldFrom;
        chat.HeldUntil = record->HeldUntil;
    }
    chat.Supporter = Settings().SupportName;
    if (IsSupporterChat())
        chat.OtherSupporter = m_name;
    TChatConnection::BeginArchive(chat, FarEnd());
}

bool TCustomerChat::IsSupporterChat() const
{
    return m_kind == server::SUPPORT_CHAT_LISTED;
}

void TCustomerChat::MarkEndTime()
{
    if (Socket())
        m_calls.UpdateDisconnectTime(Socket());
}

void TCustomerChat::MarkStatus(int status)
{
    if (Socket())
        m_calls.SetCallStatus(Socket(), status);
    using archive::EndedBy;
    if (status == CallStatusEndChat)
        EndArchive(CallStatusText(status), m_visitorEnded ? EndedBy::Visitor : EndedBy::Operator);
    else if (status == CallStatusNetError)
        EndArchive(CallStatusText(status), EndedBy::Network);
    else if (status == CallStatusTransfered)
        EndArchive(CallStatusText(status), EndedBy::TransferredOut);
}

QString TCustomerChat::CallTimeText(bool endTime) const
{
    return Socket() ? m_calls.CallTimeText(Socket(), endTime) : QString();
}

std::optional<TTranscriptHeader> TCustomerChat::TranscriptRow() const
{
    return Socket() ? m_calls.TranscriptRow(Socket()) : m_keptRow;
}

void TCustomerChat::EndOnWire(int pauseMs, std::function<void()> timedOut, std::function<void()> done)
{
    // An exchange on the call's connection: the caller's frames wait behind
    // it, and it ends with this chat if that is let go of first.
    auto *exchange = new TExchange(this, {Socket()});
    if (pauseMs > 0)
        exchange->Pause(pauseMs);
    exchange->Then([this] {
        m_endWaitsForQueue = m_calls.StatusOfCall(m_sessionCount) != CallStatusText(CallStatusEndChat);
        if (!m_endWaitsForQueue)
            return;
        // Ended already when the operator closes: the visitor left first.
        m_visitorEnded = Ended();
        if (!m_transferring)
            EndSession();
        MarkStatus(m_transferring ? CallStatusTransfered : CallStatusEndChat);
    });
    exchange->WaitUntilSent([this] { return m_endWaitsForQueue ? SendWorker() : nullptr; }, std::move(timedOut));
    exchange->Then(std::move(done));
    exchange->Start();
}

void TCustomerChat::TakeDown()
{
    MarkEndTime();
    MarkStatus(CallStatusNetError);
    if (Socket())
        m_keptRow = m_calls.TranscriptRow(Socket());
    SetEnded(true);
    ReleaseCall();
}

void TCustomerChat::ReleaseCall()
{
    if (Socket())
        m_calls.NullListViewItemData(Socket());
    Release();
    // The record belongs to the call list from here on.
    m_record = nullptr;
}

void TCustomerChat::ProcessMessage(quint16 code, const QByteArray &body)
{
    if (code == chat::USER_DETAILS)
        HandleUserDetails(body);
    else
        TChatConnection::ProcessMessage(code, body);
}

void TCustomerChat::HandleUserDetails(const QByteArray &body)
{
    const std::optional<chat::UserDetails> details = chat::DecodeUserDetails(body);
    if (!details)
        return;
    m_name = details->Name();
    m_email = details->Email();
    m_phone = details->Phone();
    NameArchiveFarEnd(m_name, m_email, m_phone);
    if (Socket())
        ShowUserDetails(m_calls, Socket(), *details);
    if (TLogFile *log = m_log ? m_log() : nullptr)
        log->AddLine(UserDetailsLogLine(m_sessionCount, *details));
    m_view.CallerDetailsChanged();
}

} // namespace velmora
