#include "chat/SuppChatWindow.h"

#include "chat/ChatDialogs.h"
#include "chat/ChatHost.h"
#include "chat/ChatLines.h"
#include "chat/ChatPane.h"
#include "chat/ChatPictures.h"
#include "chat/ChatProperties.h"
#include "chat/ChatWorkspace.h"
#include "diag/Boxes.h"
#include "protocol/Codec.h"
#include "session/WsaErrors.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QScreen>
#include <QVBoxLayout>

namespace velmora {

namespace {

const QString kEndCaption = QStringLiteral(" Warning Support Chat window ");

} // namespace

TSuppChatWindow::TSuppChatWindow(qint32 port, const QString &name, ISuppChatHost &host, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                          | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      m_chosenName(name), m_host(host), m_connection(*this, port)
{
    setAttribute(Qt::WA_DeleteOnClose, false);
    setProperty(kSupporterChatProperty, true);
    m_pane = new TChatPane(this);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_pane);
    setMinimumSize(m_pane->minimumSize());
    resize(minimumSize());
    connect(m_pane, &TChatPane::SendRequested, this, [this] { SendMsgBtnClick(); });
    connect(m_pane, &TChatPane::EndRequested, this, [this] { EndChatBtnClick(); });
    connect(m_pane, &TChatPane::InputChanged, this, [this](bool empty) { m_connection.InputChanged(empty); });

    m_caption = QStringLiteral("  Support to support");
    setWindowTitle(m_caption);

    m_host.SetBusyAnimation(true);
    const bool opened = m_connection.Begin();
    // Nothing can be typed before the answering supporter's console has welcomed us.
    m_pane->InputText->setEnabled(false);
    m_pane->SetStatusPanel(1, QString());
    setWindowIcon(ChatStatusIcon(callicon::Normal));

    if (TChatWorkspace::Adopt(this)) {
        // A tab of the workspace.
    } else {
        if (const QScreen *screen = QGuiApplication::primaryScreen())
            move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
        show();
    }
    if (!opened)
        QMetaObject::invokeMethod(this, [this] { ConnectionError(10024); }, Qt::QueuedConnection);
}

TSuppChatWindow::~TSuppChatWindow()
{
    m_connection.Release();
}

QString TSuppChatWindow::RemoteLabel() const
{
    return RemoteName().isEmpty() ? QStringLiteral("The other supporter") : RemoteName();
}

QString TSuppChatWindow::ErrorText(int wsaCode)
{
    const QString text = ChatSocketErrorText(wsaCode);
    const QString other = QStringLiteral("TOneChatWindow.Error = ");
    if (text.startsWith(other))
        return QStringLiteral("TSuppChatWindow.Error = ") + text.mid(other.size());
    return text;
}

// --- the operator's side ------------------------------------------------------

void TSuppChatWindow::SendMsgBtnClick()
{
    if (m_closed || !m_pane->InputText->isEnabled())
        return;
    const QString text = m_pane->MessageToSend();
    if (text.isEmpty())
        return;
    const QByteArray wire = ToWire(MessageForWire(text));
    m_connection.SendLine(wire);
    m_pane->AddOwnLine(wire);
    m_pane->ClearInput(); // TYPING_STOP through the input's change
    m_pane->InputText->setFocus();
}

// --- what the far end says ----------------------------------------------------

void TSuppChatWindow::ChatConnected()
{
    m_pane->SetStatusPanel(1, QStringLiteral(" Connecting to Server..."));
}

void TSuppChatWindow::RequestSent()
{
    m_host.SetBusyAnimation(false);
}

void TSuppChatWindow::SupportListed()
{
    if (m_closed)
        return;
    m_pane->AddNotice(QStringLiteral("Please wait ..."));
    m_pane->SetStatusPanel(1, QStringLiteral("Support listed ..."));
}

void TSuppChatWindow::SupportRefused(bool maintenance)
{
    if (m_closed)
        return;
    ShowBox(maintenance ? QStringLiteral("Support in maintanace, not available !!.")
                        : QStringLiteral("Support not available !!."),
            QStringLiteral("Error"));
}

void TSuppChatWindow::Welcomed(const QString &text)
{
    if (m_closed)
        return;
    if (!isActiveWindow())
        m_pane->StartFlashing();
    m_pane->AddNotice(text);
    m_pane->PlayChatSound();
    m_pane->SetStatusPanel(1, QStringLiteral("Connected to support, wating for operator..."));
    if (!m_connection.Ended())
        m_pane->InputText->setEnabled(true);
}

void TSuppChatWindow::SupporterAnswered(const QString &name, const QString &welcome)
{
    if (m_closed)
        return;
    m_pane->PlayChatSound();
    m_pane->AddNotice(name + QStringLiteral(": ") + welcome);
    m_pane->AddNotice(QString());
    m_caption += QStringLiteral(", in chat with ") + CaptionName(name);
    setProperty(kChatNameProperty, name);
    setWindowTitle(m_caption);
}

void TSuppChatWindow::RemoteLine(const QString &text)
{
    if (m_closed)
        return;
    m_pane->AddRemoteLine(RemoteName(), text);
}

void TSuppChatWindow::RemoteTypingChanged(bool typing)
{
    if (m_closed)
        return;
    m_pane->ShowRemoteTyping(RemoteName(), typing);
}

void TSuppChatWindow::RemoteEnded()
{
    if (m_closed)
        return;
    // Whatever would be typed now would go nowhere, and the clock stops.
    m_connection.StopClock();
    ShowEnded(RemoteLabel() + QStringLiteral(" left the chat at ") + TChatPane::NowText());
    QPointer<TSuppChatWindow> self(this);
    const bool close = ChatDialogs().SupportChatTerminated(*this);
    if (!self || m_closed)
        return;
    if (close) {
        m_host.SetChatWithOtherSupportEnabled(true);
        Finish();
    }
}

void TSuppChatWindow::ShowEnded(const QString &line)
{
    setWindowTitle(EndedCaption(m_caption));
    setProperty(kChatEndedProperty, true);
    m_pane->ShowEnded(line);
    m_connection.ArchiveSystemLine(line);
}

void TSuppChatWindow::ClockTicked(quint32 seconds)
{
    m_pane->ShowClock(seconds);
}

void TSuppChatWindow::ConnectionLost()
{
    if (m_closed || m_connection.Ended())
        return;
    m_connection.SetEnded(true);
    m_connection.StopClock();
    ShowEnded(RemoteLabel() + QStringLiteral(" left the chat at ") + TChatPane::NowText()
              + QStringLiteral(" (the connection closed)"));
    QPointer<TSuppChatWindow> self(this);
    const bool close = ChatDialogs().SupportChatTerminated(*this);
    if (!self || m_closed)
        return;
    ShowBox(QStringLiteral("Remote user terminated the chat session, closing this chat session"), kEndCaption);
    if (!self || m_closed)
        return;
    m_host.SetBusyAnimation(false);
    m_host.SetChatWithOtherSupportEnabled(true);
    if (close)
        Finish();
}

void TSuppChatWindow::ConnectionError(int wsaCode)
{
    if (m_closed)
        return;
    QPointer<TSuppChatWindow> self(this);
    ShowBox(ErrorText(wsaCode), QStringLiteral("Network error !"), BoxIcon::Error);
    if (!self || m_closed)
        return;
    // An error that cost the connection is also the loss of the other supporter.
    if (!m_connection.IsConnected())
        ConnectionLost();
}

// --- window events ------------------------------------------------------------

bool TSuppChatWindow::event(QEvent *event)
{
    if (event->type() == QEvent::WindowActivate && m_pane->Flashing()) {
        // Seen: the flashing has done its work.
        m_pane->StopFlashing();
    }
    return QWidget::event(event);
}

void TSuppChatWindow::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    m_pane->StopFlashing();
    if (m_pane->InputText->isEnabled())
        m_pane->InputText->setFocus();
}

void TSuppChatWindow::closeEvent(QCloseEvent *event)
{
    if (m_closed) {
        event->accept();
        return;
    }
    event->ignore();
    EndChatBtnClick();
}

void TSuppChatWindow::EndChatBtnClick()
{
    QPointer<TSuppChatWindow> self(this);
    if (m_closing || m_closed || !m_pane->MayDiscardDraft(this) || !self)
        return;
    FormClose();
}

// --- the end ------------------------------------------------------------------

void TSuppChatWindow::FormClose()
{
    if (m_closing || m_closed)
        return;
    m_closing = true;
    QPointer<TSuppChatWindow> self(this);

    const bool anyway = !m_connection.RemoteTyping() || TChatPane::CloseWhileRemoteTypes(this);
    if (!self)
        return;
    if (!anyway || m_closed) {
        m_closing = false;
        return;
    }

    m_connection.StopClock();
    m_connection.Leave();
    m_closed = true;
    m_host.SetChatWithOtherSupportEnabled(true);
    m_host.SetBusyAnimation(false);
    m_pane->StopFlashing();
    TChatWorkspace::PutAway(this);
    // The farewell leaves before the connection goes; the window does not
    // wait on screen for it.
    m_connection.WhenSent([this](bool timedOut) {
        if (timedOut)
            ShowBox(QStringLiteral("From inside TSuppChatWindow::FormClose, Could not send waiting messages !!"),
                    QStringLiteral("Error"));
        m_connection.Release();
        deleteLater();
    });
}

void TSuppChatWindow::Finish()
{
    m_closed = true;
    m_connection.StopClock();
    m_pane->StopFlashing();
    m_connection.Release();
    TChatWorkspace::PutAway(this);
    deleteLater();
}

} // namespace velmora
