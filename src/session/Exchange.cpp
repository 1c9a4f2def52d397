#include "session/Exchange.h"

#include "diag/Pause.h"
#include "session/ClientSocket.h"
#include "session/SocketBuff.h"

#include <QCoreApplication>
#include <QHash>

#include <algorithm>

namespace velmora {

namespace {

// Everything here runs on the GUI thread.
QHash<TClientSocket *, TExchange *> g_busy;
QList<QPointer<TExchange>> g_waiting;
int g_unfinished = 0;
bool g_kickQueued = false;

constexpr int kSentPollMs = 10;

} // namespace

TExchange::TExchange(QObject *owner, std::initializer_list<TClientSocket *> connections) : QObject(owner)
{
    for (TClientSocket *socket : connections) {
        if (!socket || m_connections.contains(socket))
            continue;
        m_connections.append(socket);
        m_alive.append(socket);
        // A connection that goes away takes the rest of the exchange with it.
        connect(socket, &QObject::destroyed, this, [this, socket] {
            if (g_busy.value(socket) == this)
                g_busy.remove(socket);
            const qsizetype at = m_connections.indexOf(socket);
            if (at >= 0) {
                m_connections.removeAt(at);
                m_alive.removeAt(at);
            }
            Stop();
            // Inside a step, Advance() ends the exchange when the step returns.
            if (m_started && !m_inStep)
                Finish();
        });
    }
}

TExchange::~TExchange()
{
    if (!m_done) {
        m_stopped = true;
        ReleaseConnections();
        if (m_counted)
            --g_unfinished;
        m_done = true;
        StartWaiting();
    }
}

int TExchange::Unfinished()
{
    return g_unfinished;
}

TExchange &TExchange::Add(Step step)
{
    m_steps.push_back(std::move(step));
    return *this;
}

TExchange &TExchange::Pause(int milliseconds)
{
    return Add({Kind::Pause, milliseconds, {}, {}, {}});
}

TExchange &TExchange::WaitUntilSent(std::function<TSocketBuff *()> worker, std::function<void()> timedOut)
{
    return Add({Kind::WaitSent, 0, {}, std::move(worker), std::move(timedOut)});
}

bool TExchange::Busy() const
{
    return std::any_of(m_connections.begin(), m_connections.end(), [this](TClientSocket *socket) {
        TExchange *holder = g_busy.value(socket);
        return holder && holder != this;
    });
}

void TExchange::Start()
{
    if (m_started)
        return;
    m_started = true;
    m_counted = true;
    ++g_unfinished;
    if (m_stopped) {
        Finish();
        return;
    }
    if (Busy()) {
        g_waiting.append(this);
        return;
    }
    Acquire();
    Advance();
}

void TExchange::Acquire()
{
    m_acquired = true;
    for (TClientSocket *socket : m_connections) {
        g_busy.insert(socket, this);
        socket->Hold();
    }
}

void TExchange::Stop()
{
    m_stopped = true;
}

void TExchange::Advance()
{
    QPointer<TExchange> self(this);
    while (!m_stopped && m_next < m_steps.size()) {
        Step &step = m_steps[m_next++];
        switch (step.kind) {
        case Kind::Call: {
            // A copy: the step may end its owner, and this exchange with it.
            const std::function<bool()> call = step.call;
            m_inStep = true;
            const bool goOn = call();
            if (!self)
                return;
            m_inStep = false;
            if (!goOn)
                m_stopped = true;
            break;
        }
        case Kind::Pause:
            PauseThen(this, step.ms, [this] { Advance(); });
            return;
        case Kind::WaitSent:
            m_sendDeadline = QDeadlineTimer(kSendWaitMs);
            PollSent();
            return;
        }
    }
    Finish();
}

void TExchange::PollSent()
{
    if (m_stopped) {
        Finish();
        return;
    }
    const Step &step = m_steps[m_next - 1];
    TSocketBuff *worker = step.worker ? step.worker() : nullptr;
    if (!worker || worker->QueuedPieces() == 0) {
        Advance();
        return;
    }
    if (m_sendDeadline.hasExpired()) {
        if (step.timedOut) {
            QPointer<TExchange> self(this);
            const std::function<void()> timedOut = step.timedOut;
            timedOut();
            if (!self)
                return;
        }
        Advance();
        return;
    }
    PauseThen(this, kSentPollMs, [this] { PollSent(); });
}

void TExchange::ReleaseConnections()
{
    g_waiting.removeAll(this);
    for (qsizetype i = 0; i < m_connections.size(); ++i) {
        TClientSocket *socket = m_connections[i];
        if (g_busy.value(socket) == this)
            g_busy.remove(socket);
        if (m_acquired && m_alive[i])
            m_alive[i]->Release();
    }
    m_connections.clear();
    m_alive.clear();
    m_acquired = false;
}

void TExchange::Finish()
{
    if (m_done)
        return;
    m_done = true;
    ReleaseConnections();
    if (m_counted)
        --g_unfinished;
    emit Ended();
    deleteLater();
    StartWaiting();
}

void TExchange::StartWaiting()
{
    // From the event loop: an exchange ends inside a step of its own, or in
    // its owner's destructor.
    if (g_kickQueued || g_waiting.isEmpty() || !QCoreApplication::instance())
        return;
    g_kickQueued = true;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [] {
            g_kickQueued = false;
            const QList<QPointer<TExchange>> waiting = g_waiting;
            for (const QPointer<TExchange> &exchange : waiting) {
                if (!exchange || exchange->m_done || !g_waiting.contains(exchange) || exchange->Busy())
                    continue;
                g_waiting.removeAll(exchange);
                exchange->Acquire();
                exchange->Advance();
            }
        },
        Qt::QueuedConnection);
}

} // namespace velmora
