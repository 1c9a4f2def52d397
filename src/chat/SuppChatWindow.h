#pragma once
// The window with which this console asks another supporter of the group for
// a chat: the view of a TSupporterChat (the connection of its own and its
// protocol) on a TChatPane, with the close procedure.
#include "session/SupporterChat.h"

#include <QPointer>
#include <QWidget>

namespace velmora {

class TChatPane;
class TLogFile;

// What the supporter chat window needs of the main window.
class ISuppChatHost {
public:
    virtual ~ISuppChatHost() = default;
    virtual void SetChatWithOtherSupportEnabled(bool /*enabled*/) {}
    // The main window's picture runs while the connection is being set up.
    virtual void SetBusyAnimation(bool /*running*/) {}
};

class TSuppChatWindow : public QWidget, public ISupporterChatView {
    Q_OBJECT
public:
    // Opens the connection to the configured server for a chat with the
    // supporter `port` (`name` as the online list gave it) and shows itself.
    TSuppChatWindow(qint32 port, const QString &name, ISuppChatHost &host, QWidget *parent = nullptr);
    ~TSuppChatWindow() override;

    // The close procedure (close box, system menu Close).
    void FormClose();
    // End chat, Ctrl+W, the close box: asks before a draft is lost.
    void EndChatBtnClick();
    void SendMsgBtnClick();

    static QString ErrorText(int wsaCode);

    // State, for the main window and tests.
    qint32 ChosenPort() const { return m_connection.Port(); }
    const QString &ChosenName() const { return m_chosenName; }
    const QString &RemoteName() const { return m_connection.RemoteName(); }
    qint32 SessionCount() const { return m_connection.SessionCount(); }
    bool Ended() const { return m_connection.Ended(); }
    bool Closed() const { return m_closed; }
    TChatPane &Pane() const { return *m_pane; }
    TSupporterChat &Connection() { return m_connection; }

    // ISupporterChatView
    void ChatConnected() override;
    void RemoteLine(const QString &text) override;
    void RemoteTypingChanged(bool typing) override;
    void RemoteEnded() override;
    void ClockTicked(quint32 seconds) override;
    void ConnectionLost() override;
    void ConnectionError(int wsaCode) override;
    void RequestSent() override;
    void SupportListed() override;
    void Welcomed(const QString &text) override;
    void SupporterAnswered(const QString &name, const QString &welcome) override;
    void SupportRefused(bool maintenance) override;

protected:
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool event(QEvent *event) override;

private:
    // The pane's end-of-chat line, kept in the archive too.
    void ShowEnded(const QString &line);
    QString RemoteLabel() const;
    // The chat is over and the window goes, without the close procedure.
    void Finish();

    QString m_chosenName;
    ISuppChatHost &m_host;
    TChatPane *m_pane = nullptr;
    TSupporterChat m_connection;
    QString m_caption;
    bool m_closing = false;
    bool m_closed = false;
};

} // namespace velmora
