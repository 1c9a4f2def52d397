#pragma once
// A chat this console asks of another supporter of the group, without
// widgets: a connection of its own on which this console plays the visitor's
// side (the support-chat request, the session and its details, lines,
// typing notices, keep-alive, end). The answering supporter sees an ordinary
// call. The window that shows it is its view.
#include "session/ChatConnection.h"

namespace velmora {

class ISupporterChatView : public IChatView {
public:
    // The request has been sent: nothing more to wait for before the answer.
    virtual void RequestSent() {}
    // SUPPORT_LISTED: the other console has the request in its call list.
    virtual void SupportListed() {}
    // WELCOME_MSG: the other console took the chat; typing may begin.
    virtual void Welcomed(const QString & /*text*/) {}
    // SUPPORT_WELCOME: the other supporter answered, by name.
    virtual void SupporterAnswered(const QString & /*name*/, const QString & /*welcome*/) {}
    // SUPPORT_UNAVAILABLE, or SUPPORT_IN_MAINTENANCE (`maintenance`).
    virtual void SupportRefused(bool /*maintenance*/) {}
};

class TSupporterChat : public TChatConnection {
    Q_OBJECT
public:
    static constexpr int kDetailsPauseMs = 20;

    // A chat with the supporter of port value `port`.
    TSupporterChat(ISupporterChatView &view, qint32 port, QObject *parent = nullptr);

    // Opens the connection to the configured server, starts the record and
    // the clock; false when no socket could be made.
    bool Begin();
    // The operator leaves: END_SESSION, and whatever the far end still says
    // is not answered any more.
    void Leave();

    qint32 Port() const { return m_port; }
    // Given by SESSION_READY; 0 before.
    qint32 SessionCount() const { return m_sessionCount; }
    // The other supporter's name, once SUPPORT_WELCOME has told it.
    const QString &RemoteName() const { return m_remoteName; }

    void ProcessMessage(quint16 code, const QByteArray &body) override;

private:
    void HandleSessionReady(const QByteArray &body);

    ISupporterChatView &m_view;
    qint32 m_port;
    qint32 m_sessionCount = 0;
    QString m_remoteName;
    bool m_left = false;
    // Refusals still to be told: one per request sent, however many come.
    int m_refusalsDue = 0;
};

} // namespace velmora
