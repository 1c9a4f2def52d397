#pragma once
// An exchange: messages sent on one or more connections with fixed pauses
// between them, run as steps on the GUI thread without ever blocking it.
//
//   auto *exchange = new TExchange(owner, {socket});
//   exchange->Then([..] { send the first message; })
//       .Pause(500)
//       .Then([..] { if (the call is gone) return false; send the next; return true; })
//       .Start();
//
// While an exchange runs, the connections it sends on hold back their
// incoming frames (they are handled, in order, once it ends), and a later
// exchange on any of those connections waits its turn; so every connection
// sees the same order as if the pauses had blocked, while other connections,
// timers and the operator's input go on. An exchange ends after its last
// step, when a step returns false or calls Stop(), or when its owner or one of
// its connections is destroyed; the remaining steps then never run.
#include <QDeadlineTimer>
#include <QList>
#include <QObject>
#include <QPointer>

#include <functional>
#include <initializer_list>
#include <type_traits>
#include <vector>

namespace velmora {

class TClientSocket;
class TSocketBuff;

class TExchange : public QObject {
    Q_OBJECT
public:
    // How long WaitUntilSent waits for a send queue to empty.
    static constexpr int kSendWaitMs = 3200;

    // Owned by `owner` (destroyed with it); null connections are ignored.
    TExchange(QObject *owner, std::initializer_list<TClientSocket *> connections);
    ~TExchange() override;

    // A step; one that returns false ends the exchange.
    template <typename F>
    TExchange &Then(F &&step)
    {
        if constexpr (std::is_void_v<std::invoke_result_t<F>>)
            return Add({Kind::Call, 0, [s = std::forward<F>(step)]() mutable { s(); return true; }, {}, {}});
        else
            return Add({Kind::Call, 0, std::forward<F>(step), {}, {}});
    }
    TExchange &Pause(int milliseconds);
    // Goes on once `worker()` has nothing queued, or after kSendWaitMs, when
    // `timedOut` runs first. A null worker goes on at once.
    TExchange &WaitUntilSent(std::function<TSocketBuff *()> worker, std::function<void()> timedOut = {});

    // Runs the first steps now, or, when a connection of this exchange is
    // busy with an earlier one, as soon as that one has ended.
    void Start();
    // Ends the exchange once the running step returns.
    void Stop();
    bool Done() const { return m_done; }

    // Exchanges started and not yet ended (the program's exit waits for them).
    static int Unfinished();

signals:
    void Ended();

private:
    enum class Kind { Call, Pause, WaitSent };
    struct Step {
        Kind kind;
        int ms;
        std::function<bool()> call;
        std::function<TSocketBuff *()> worker;
        std::function<void()> timedOut;
    };

    TExchange &Add(Step step);
    bool Busy() const;
    void Acquire();
    void Advance();
    void PollSent();
    void Finish();
    void ReleaseConnections();
    static void StartWaiting();

    std::vector<Step> m_steps;
    std::size_t m_next = 0;
    QList<TClientSocket *> m_connections;
    QList<QPointer<TClientSocket>> m_alive;
    bool m_started = false;
    bool m_acquired = false;
    bool m_stopped = false;
    bool m_done = false;
    bool m_counted = false;
    bool m_inStep = false;
    QDeadlineTimer m_sendDeadline;
};

} // namespace velmora
