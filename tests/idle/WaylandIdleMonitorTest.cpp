// The Wayland monitor against a small compositor of the tests' own, on the
// real Wayland server library: a seat and either idle protocol, whose idled
// and resumed events the test sends as a compositor would.
#include "idle/WaylandIdleMonitor.h"

#include "TestUtil.h"

#include "ext-idle-notify-v1-server-protocol.h"
#include "kde-idle-server-protocol.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include <sys/eventfd.h>
#include <unistd.h>
#include <wayland-server.h>

using namespace velmora;
using namespace velmora::test;

namespace {

class FakeCompositor {
public:
    enum class Idle { Ext, Kde, None };

    explicit FakeCompositor(Idle idle) : m_idle(idle)
    {
        m_display = wl_display_create();
        m_socket = wl_display_add_socket_auto(m_display);
        m_wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        m_wakeSource =
            wl_event_loop_add_fd(wl_display_get_event_loop(m_display), m_wake, WL_EVENT_READABLE, RunQueued, this);
        // Version 1 of the seat has no requests the monitor sends.
        wl_global_create(m_display, &wl_seat_interface, 1, this, [](wl_client *c, void *, uint32_t, uint32_t id) {
            wl_resource_set_implementation(wl_resource_create(c, &wl_seat_interface, 1, id), nullptr, nullptr,
                                           nullptr);
        });
        if (idle == Idle::Ext)
            wl_global_create(m_display, &ext_idle_notifier_v1_interface, 1, this, BindExt);
        else if (idle == Idle::Kde)
            wl_global_create(m_display, &org_kde_kwin_idle_interface, 1, this, BindKde);
        m_thread = std::thread([this] {
            while (!m_stop) {
                wl_event_loop_dispatch(wl_display_get_event_loop(m_display), 50);
                wl_display_flush_clients(m_display);
            }
        });
    }
    ~FakeCompositor()
    {
        m_stop = true;
        m_thread.join();
        wl_display_destroy_clients(m_display);
        // A source of our own is ours to remove; the display frees only its own.
        wl_event_source_remove(m_wakeSource);
        wl_display_destroy(m_display);
        ::close(m_wake);
    }

    QByteArray Socket() const { return m_socket; }
    // Timeouts of the notifications the monitor holds now.
    std::vector<uint32_t> Timeouts()
    {
        std::vector<uint32_t> out;
        Run([&] {
            for (const auto &[resource, timeout] : m_live)
                out.push_back(timeout);
        });
        return out;
    }
    void SendIdled() { SendToAll(true); }
    void SendResumed() { SendToAll(false); }

private:
    // Runs `f` on the compositor's thread and waits for it.
    void Run(std::function<void()> f)
    {
        std::promise<void> done;
        {
            std::lock_guard lock(m_mutex);
            m_queue.push_back([&] {
                f();
                done.set_value();
            });
        }
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_wake, &one, sizeof one);
        done.get_future().wait();
    }
    static int RunQueued(int fd, uint32_t, void *data)
    {
        auto *self = static_cast<FakeCompositor *>(data);
        uint64_t count = 0;
        [[maybe_unused]] const ssize_t n = ::read(fd, &count, sizeof count);
        std::vector<std::function<void()>> queue;
        {
            std::lock_guard lock(self->m_mutex);
            queue.swap(self->m_queue);
        }
        for (auto &f : queue)
            f();
        return 0;
    }
    void SendToAll(bool idled)
    {
        Run([&] {
            for (const auto &[resource, timeout] : m_live) {
                if (m_idle == Idle::Ext)
                    idled ? ext_idle_notification_v1_send_idled(resource) : ext_idle_notification_v1_send_resumed(resource);
                else
                    idled ? org_kde_kwin_idle_timeout_send_idle(resource) : org_kde_kwin_idle_timeout_send_resumed(resource);
            }
        });
    }
    void Track(wl_resource *resource, uint32_t timeout)
    {
        m_live.emplace_back(resource, timeout);
        wl_resource_set_destructor(resource, [](wl_resource *r) {
            auto *self = static_cast<FakeCompositor *>(wl_resource_get_user_data(r));
            std::erase_if(self->m_live, [r](const auto &entry) { return entry.first == r; });
        });
    }
    static void Destroy(wl_client *, wl_resource *resource) { wl_resource_destroy(resource); }
    static void BindExt(wl_client *client, void *data, uint32_t, uint32_t id)
    {
        static const struct ext_idle_notifier_v1_interface impl = {
            Destroy, [](wl_client *c, wl_resource *notifier, uint32_t id, uint32_t timeout, wl_resource *) {
                static const struct ext_idle_notification_v1_interface one = {Destroy};
                auto *self = static_cast<FakeCompositor *>(wl_resource_get_user_data(notifier));
                wl_resource *r = wl_resource_create(c, &ext_idle_notification_v1_interface, 1, id);
                wl_resource_set_implementation(r, &one, self, nullptr);
                self->Track(r, timeout);
            }};
        wl_resource_set_implementation(wl_resource_create(client, &ext_idle_notifier_v1_interface, 1, id), &impl,
                                       data, nullptr);
    }
    static void BindKde(wl_client *client, void *data, uint32_t, uint32_t id)
    {
        static const struct org_kde_kwin_idle_interface impl = {
            [](wl_client *c, wl_resource *idle, uint32_t id, wl_resource *, uint32_t timeout) {
                static const struct org_kde_kwin_idle_timeout_interface one = {Destroy,
                                                                               [](wl_client *, wl_resource *) {}};
                auto *self = static_cast<FakeCompositor *>(wl_resource_get_user_data(idle));
                wl_resource *r = wl_resource_create(c, &org_kde_kwin_idle_timeout_interface, 1, id);
                wl_resource_set_implementation(r, &one, self, nullptr);
                self->Track(r, timeout);
            }};
        wl_resource_set_implementation(wl_resource_create(client, &org_kde_kwin_idle_interface, 1, id), &impl, data,
                                       nullptr);
    }

    Idle m_idle;
    wl_display *m_display = nullptr;
    QByteArray m_socket;
    int m_wake = -1;
    wl_event_source *m_wakeSource = nullptr;
    std::thread m_thread;
    std::atomic<bool> m_stop = false;
    std::mutex m_mutex;
    std::vector<std::function<void()>> m_queue;
    std::vector<std::pair<wl_resource *, uint32_t>> m_live;
};

// The compositor's socket goes into a runtime folder of the test's own.
class WaylandIdleMonitorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_oldRuntime = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", m_runtime.path().toLocal8Bit());
    }
    void TearDown() override { qputenv("XDG_RUNTIME_DIR", m_oldRuntime); }

    QTemporaryDir m_runtime;
    QByteArray m_oldRuntime;
};

} // namespace

TEST_F(WaylandIdleMonitorTest, EitherProtocolReportsIdleAndTheFirstInputOnce)
{
    for (const auto idle : {FakeCompositor::Idle::Ext, FakeCompositor::Idle::Kde}) {
        FakeCompositor compositor(idle);
        TWaylandIdleMonitor monitor(compositor.Socket());
        QString reason;
        ASSERT_TRUE(monitor.Install(&reason)) << reason.toStdString();
        EXPECT_EQ(monitor.Protocol(), idle == FakeCompositor::Idle::Ext ? QStringLiteral("ext-idle-notify-v1")
                                                                        : QStringLiteral("org_kde_kwin_idle"));
        QSignalSpy reached(&monitor, &IInputMonitor::IdleReached);
        QSignalSpy resumed(&monitor, &IInputMonitor::InputResumed);

        monitor.SetIdleThreshold(5000);
        ASSERT_TRUE(WaitFor([&] { return compositor.Timeouts() == std::vector<uint32_t>{5000}; }));
        // Before the compositor says idle, the last input is "now".
        EXPECT_LT(quint32(monitor.TickNow() - monitor.LastInputTick()), 1000u);

        compositor.SendIdled();
        ASSERT_TRUE(WaitFor([&] { return reached.count() == 1; }));
        EXPECT_GE(quint32(monitor.TickNow() - monitor.LastInputTick()), 5000u);
        // Input while nobody watches is no notice; while watched, one.
        compositor.SendResumed();
        ASSERT_TRUE(WaitFor([&] { return monitor.TickNow() - monitor.LastInputTick() < 1000u; }));
        EXPECT_EQ(resumed.count(), 0);
        compositor.SendIdled();
        monitor.WatchForInput();
        compositor.SendResumed();
        ASSERT_TRUE(WaitFor([&] { return resumed.count() == 1; }));
        compositor.SendIdled();
        compositor.SendResumed();
        RunFor(100);
        EXPECT_EQ(resumed.count(), 1);

        // A new threshold replaces the notification.
        monitor.SetIdleThreshold(7000);
        EXPECT_TRUE(WaitFor([&] { return compositor.Timeouts() == std::vector<uint32_t>{7000}; }));
    }
}

TEST_F(WaylandIdleMonitorTest, NoIdleProtocolNoDisplayOrAVanishedCompositorAreHarmless)
{
    {
        FakeCompositor bare(FakeCompositor::Idle::None);
        TWaylandIdleMonitor monitor(bare.Socket());
        QString reason;
        EXPECT_FALSE(monitor.Install(&reason));
        EXPECT_EQ(reason, QStringLiteral("the compositor offers no idle notifications"));
    }
    TWaylandIdleMonitor nowhere("wayland-nobody");
    QString reason;
    EXPECT_FALSE(nowhere.Install(&reason));
    EXPECT_EQ(reason, QStringLiteral("cannot connect to the Wayland display"));

    auto compositor = std::make_unique<FakeCompositor>(FakeCompositor::Idle::Ext);
    TWaylandIdleMonitor monitor(compositor->Socket());
    ASSERT_TRUE(monitor.Install(&reason));
    monitor.SetIdleThreshold(1000);
    compositor->SendIdled();
    QSignalSpy reached(&monitor, &IInputMonitor::IdleReached);
    ASSERT_TRUE(WaitFor([&] { return reached.count() == 1; }));
    compositor.reset();
    // Gone: the harmless answer is "input just now".
    EXPECT_TRUE(WaitFor([&] { return monitor.TickNow() - monitor.LastInputTick() < 1000u; }));
}
