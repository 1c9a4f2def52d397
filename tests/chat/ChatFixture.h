#pragma once
// A chat window on a real loopback connection to the fake chat server, with
// a recording call list, host and dialogs around it.
#include "chat/ChatDialogs.h"
#include "chat/ChatHost.h"
#include "chat/ChatPane.h"
#include "chat/OneChatWindow.h"
#include "config/Settings.h"
#include "protocol/ChatMessages.h"
#include "session/ClientSocket.h"
#include "session/SocketBuff.h"
#include "support/CallRecord.h"
#include "support/FakeChatServer.h"
#include "support/RecordingBoxes.h"
#include "support/RecordingCalls.h"
#include "support/TestUtil.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTimer>
#include <QTextEdit>
#include <QToolButton>
#include <QStringList>

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>
#include <optional>

namespace velmora::test {

class RecordingHost final : public IChatHost {
public:
    bool TranscriptsOff() const override { return transcriptsOff; }
    void ComposeTranscript(const TTranscriptSource &source) override
    {
        ++transcripts;
        lastTranscript = source;
    }
    const TTitleDataClass *CannedMessages() const override { return &canned; }
    const TTitleDataClass *UrlShortcuts() const override { return &urls; }
    bool BeginTransfer(const TTransferSource &source) override
    {
        ++transfers;
        lastTransfer = source;
        return acceptTransfer;
    }
    void SetChatWithOtherSupportEnabled(bool enabled) override { supportChatEnabled = enabled; }
    void ShowPastChats(const QString &visitor) override { pastChats << visitor; }

    bool transcriptsOff = true;
    int transcripts = 0;
    TTranscriptSource lastTranscript;
    int transfers = 0;
    TTransferSource lastTransfer;
    bool acceptTransfer = true;
    bool supportChatEnabled = false;
    QStringList pastChats;
    TTitleDataClass canned{QStringLiteral("/nonexistent/CannedData.dat")};
    TTitleDataClass urls{QStringLiteral("/nonexistent/UrlScData.dat")};
};

class ScriptedDialogs final : public IChatDialogs {
public:
    ScriptedDialogs() { SetChatDialogs(this); }
    ~ScriptedDialogs() override { SetChatDialogs(nullptr); }

    // The end-of-chat dialog stays up until the test answers it.
    void RemoteTerminatedThen(TOneChatWindow &, std::function<void(bool)> done) override
    {
        ++endDialogs;
        pendingEnd = std::move(done);
    }
    void AnswerEnd(bool close)
    {
        if (auto done = std::exchange(pendingEnd, nullptr))
            done(close);
    }
    bool SupportChatTerminated(QWidget &) override
    {
        ++endDialogs;
        return closeOnEnd;
    }
    QString OpenImageFile(QWidget *, const QString &filter) override
    {
        ++fileDialogs;
        lastFilter = filter;
        return imageFile;
    }
    QString ChooseShortcut(QWidget *, ShortcutMode mode, const QString &col1, const QString &col2,
                           const TTitleDataClass &) override
    {
        ++shortcutDialogs;
        lastMode = mode;
        lastColumns = {col1, col2};
        return shortcut;
    }

    int endDialogs = 0;
    std::function<void(bool)> pendingEnd;
    bool closeOnEnd = false; // the supporter chat's answer
    int fileDialogs = 0;
    QString lastFilter;
    QString imageFile;
    int shortcutDialogs = 0;
    ShortcutMode lastMode = ShortcutMode::CannedMessages;
    QStringList lastColumns;
    QString shortcut;
};

// The real dialogs, for tests of what happens while one is open; the
// end-of-chat answer can still be scripted.
class RealDialogs final : public IChatDialogs {
public:
    RealDialogs() { SetChatDialogs(this); }
    ~RealDialogs() override { SetChatDialogs(nullptr); }

    // A scripted answer comes a turn of the event loop later, as a click would.
    void RemoteTerminatedThen(TOneChatWindow &window, std::function<void(bool)> done) override
    {
        if (!endAnswer)
            return IChatDialogs::RemoteTerminatedThen(window, std::move(done));
        QTimer::singleShot(0, &window, [done = std::move(done), close = *endAnswer] { done(close); });
    }

    std::optional<bool> endAnswer;
};

// Runs `action` once a modal dialog is up. Any modal dialog still open after
// a few seconds is rejected, so a dialog that should have gone cannot hang the
// run. The watch lives as long as the returned timer: kept to the end of the
// test, it can neither leak nor act on a later test's dialogs.
[[nodiscard]] inline std::unique_ptr<QTimer> WhenModalShows(const std::function<void()> &action,
                                                            bool *actionRan = nullptr)
{
    auto poll = std::make_unique<QTimer>();
    QTimer *timer = poll.get();
    auto started = std::make_shared<QElapsedTimer>();
    started->start();
    QObject::connect(timer, &QTimer::timeout, timer, [timer, action, actionRan, started, ran = false]() mutable {
        QWidget *modal = QApplication::activeModalWidget();
        if (!ran && modal) {
            ran = true;
            if (actionRan)
                *actionRan = true;
            action();
            return;
        }
        if (ran && !modal) {
            timer->stop();
        } else if (started->elapsed() > 4000) {
            if (auto *dialog = qobject_cast<QDialog *>(modal))
                dialog->reject();
            else
                timer->stop();
        }
    });
    timer->start(20);
    return poll;
}

class ChatWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_savedSettings = Settings();
        Settings().SupportName = QStringLiteral("Anna");
        Settings().SupportWelcomeMsg = QStringLiteral("Hello, how can I help?");
        Settings().EmptyLineAdd = false;
        Settings().UseEnterKeyToSendMessage = true;
        Settings().ChatSoundFile.clear();
        // The system's dictionary stays out of the windows' tests.
        Settings().SpellLanguage = QStringLiteral("Off");
        ASSERT_TRUE(server.IsListening());
    }

    void TearDown() override
    {
        if (window)
            delete window.data();
        // Deferred deletions (sockets, closed windows) before the server goes.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        Settings() = m_savedSettings;
    }

    // A connected call record as the call handling hands it over.
    void MakeRecord(quint16 kind = 0x000D)
    {
        ConnectRecord(server, record);
        record.Kind = kind;
    }

    // Opens the window and waits for its three opening frames and its first
    // activation; the activation notices are cleared unless `keepNotices`.
    void OpenWindow(quint16 kind = 0x000D, bool keepNotices = false)
    {
        MakeRecord(kind);
        window = new TOneChatWindow(0, &record, calls, host);
        ASSERT_TRUE(server.WaitForFrames(3));
        ASSERT_TRUE(WaitFor([&] { return !window->ChatOutPutText->document()->isEmpty(); }));
        if (!keepNotices)
            window->ChatOutPutText->clear();
    }

    // Makes another window the active one.
    void ActivateElsewhere()
    {
        m_other = std::make_unique<QWidget>();
        m_other->show();
        m_other->activateWindow();
        ASSERT_TRUE(WaitFor([&] { return !window->isActiveWindow(); }));
    }

    // Codes received after the opening frames, waiting up to `ms` for `count`.
    std::vector<quint16> CodesAfterOpening(int count = 0, int ms = 2000) { return CodesAfter(server, 3, count, ms); }

    // Lets frames in flight arrive; for checks that nothing more was sent.
    void Settle(int ms = 150) { RunFor(ms); }

    void Receive(quint16 code, const QByteArray &body = QByteArray())
    {
        ASSERT_TRUE(server.SendFrame(0, code, body));
    }

    QString Conversation() const { return window->ChatOutPutText->toPlainText(); }
    // The close procedure finishes from the event loop, once its farewell has left.
    bool WaitClosed() { return WaitFor([&] { return !window || window->Closed(); }); }

    FakeChatServer server;
    RecordingBoxes boxes;
    ScriptedDialogs dialogs;
    RecordingCalls calls;
    RecordingHost host;
    ChatItem record;
    QPointer<TOneChatWindow> window;

private:
    TSettings m_savedSettings;
    std::unique_ptr<QWidget> m_other;
};

} // namespace velmora::test
