#pragma once
// Shared pieces of the call-handling tests: a recording ICallsHost, a stand-in
// chat window that takes a call's connection over, and a fixture that wires
// TCalls to a fake chat server over real loopback sockets.
#include "FakeChatServer.h"
#include "RecordingBoxes.h"
#include "TestUtil.h"

#include "config/Settings.h"
#include "diag/Logdata.h"
#include "protocol/ChatMessages.h"
#include "protocol/ServerMessages.h"
#include "session/Calls.h"
#include "session/CloseSockets.h"
#include "session/ServerSession.h"
#include "session/SocketBuff.h"

#include <QFile>
#include <QSet>
#include <QTest>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace velmora::test {

// Plays a chat window: takes the socket and worker over and records frames.
class FakeChatWindow : public IChatWindow {
public:
    FakeChatWindow(TCalls &calls, ChatItem *record, int number)
        : calls(calls), number(number), socket(record->Socket), worker(std::move(record->SendWorker)),
          sessionCount(record->SessionCount)
    {
        socket->SetFrameHandler([this](quint16 code, const QByteArray &) { received.push_back(code); });
        calls.CallList().SetCallStatus(socket, CallStatusInChat);
    }
    ~FakeChatWindow() override { delete socket; }

    qint32 SessionCount() const override { return sessionCount; }
    void FormClose() override { End(CallStatusEndChat, true); }
    void TakeDownOnNetError() override { End(CallStatusNetError, false); }
    bool SendOnCallConnection(const QByteArray &frame) override
    {
        return !closed && QueueMessage(*socket, *worker, frame);
    }
    void TransferDataArrived(const QByteArray &conversation) override { transferData = conversation; }

    void End(int status, bool farewell)
    {
        ++closes;
        if (refuseClose || closed)
            return;
        TCallList &list = calls.CallList();
        if (farewell)
            QueueMessage(*socket, *worker, chat::BuildEndSession());
        list.UpdateDisconnectTime(socket);
        list.SetCallStatus(socket, status);
        worker->WaitUntilSent();
        list.NullListViewItemData(socket);
        socket->Close();
        closed = true;
        calls.ChatWindowGone(this);
        if (auto run = std::exchange(afterClose, nullptr))
            run(); // what the close procedure's own boxes would let in
    }

    TCalls &calls;
    int number;
    TClientSocket *socket;
    std::unique_ptr<TSocketBuff> worker;
    qint32 sessionCount;
    std::vector<quint16> received;
    QByteArray transferData;
    int closes = 0;
    bool closed = false;
    bool refuseClose = false;
    std::function<void()> afterClose;
};

class RecordingCallsHost : public ICallsHost {
public:
    struct Alert {
        quint16 kind;
        QString site;
        QString ip;
        bool acceptEnabled;
        QString asking;
    };

    bool IsMinimizedToTray() const override { return minimized; }
    bool SoundsOn() const override { return sounds; }
    void PlayMainSound() override { ++soundsPlayed; }
    void SetTrayBlinking(bool on) override { blinking.push_back(on); }
    // Alerts stay open as the console's do: the test answers them later, as
    // the operator would, or the call's end withdraws them (closing them
    // with On-Hold, unless withdrawnLeaveOpen keeps the answer for later).
    std::function<void()> ShowNewCallAlertThen(quint16 kind, const QString &site, const QString &ip,
                                               bool acceptEnabled, const QString &asking,
                                               std::function<void(bool)> answered) override
    {
        alerts.push_back({kind, site, ip, acceptEnabled, asking});
        open.push_back({std::move(answered), false});
        return [this, i = open.size() - 1] {
            ++withdrawn;
            if (!withdrawnLeaveOpen)
                Answer(i, false);
        };
    }
    // The same alert, with the buttons the operator's keys press.
    TCallAlert OpenCallAlert(quint16 kind, const QString &site, const QString &ip, bool acceptEnabled,
                             const QString &asking, std::function<void(bool)> answered) override
    {
        TCallAlert alert = ICallsHost::OpenCallAlert(kind, site, ip, acceptEnabled, asking, std::move(answered));
        alert.Answer = [this, i = open.size() - 1](bool accept) {
            if (open[i].done)
                return false;
            Answer(i, accept);
            return true;
        };
        return alert;
    }
    // Answers alert `i` (in the order they came) once; later answers to it
    // are ignored, as a closed alert takes no clicks.
    void Answer(size_t i, bool accept)
    {
        if (i >= open.size() || open[i].done)
            return;
        open[i].done = true;
        const auto answered = open[i].answered;
        answered(accept);
    }
    // Answers the oldest alert still open; false when none is.
    bool AnswerNext(bool accept)
    {
        for (size_t i = 0; i < open.size(); ++i) {
            if (!open[i].done) {
                Answer(i, accept);
                return true;
            }
        }
        return false;
    }
    void ShowCallNotice(const QString &text) override { notices << text; }
    IChatWindow *CreateChatWindow(ChatItem *record, int number) override
    {
        if (refuseWindows)
            return nullptr;
        windows.push_back(std::make_unique<FakeChatWindow>(*calls, record, number));
        if (closeOnCreate)
            windows.back()->FormClose();
        return windows.back().get();
    }
    QString EditEmail(const QString &current) override
    {
        emailShown = current;
        if (duringEmail)
            duringEmail();
        return emailAnswer;
    }

    TCalls *calls = nullptr;
    bool minimized = false;
    bool sounds = true;
    int soundsPlayed = 0;
    std::vector<bool> blinking;
    std::vector<Alert> alerts;
    struct OpenAlert {
        std::function<void(bool)> answered;
        bool done;
    };
    std::vector<OpenAlert> open;
    int withdrawn = 0;
    bool withdrawnLeaveOpen = false;
    QStringList notices;
    bool refuseWindows = false;
    bool closeOnCreate = false;
    std::vector<std::unique_ptr<FakeChatWindow>> windows;
    QString emailShown;
    QString emailAnswer;
    std::function<void()> duringEmail;
};

// The main window's forwarding of server messages to the call handling.
class ForwardingSessionHost : public ISessionHost {
public:
    void NewCall(qint32 sc, qint32 port, const QString &site, const QString &ip, quint16 kind) override
    {
        if (calls)
            calls->NewCall(sc, port, site, ip, kind);
    }
    void CallAnswered(qint32 sc) override
    {
        if (calls)
            calls->CallAnswered(sc);
    }
    void TransferData(qint32 sc, const QByteArray &data) override
    {
        if (calls)
            calls->TransferData(sc, data);
    }
    TCalls *calls = nullptr;
};

class CallsFixture : public ::testing::Test {
protected:
    static constexpr qint32 kSupportPort = 77;

    CallsFixture()
    {
        host.calls = &calls;
        sessionHost.calls = &calls;
        ShowProblemsAsBoxes(session);
        ShowProblemsAsBoxes(calls);
    }

    void SetUp() override
    {
        ASSERT_TRUE(server.IsListening());
        server.SetSendInitialConnect(true);
        saved = Settings();
        TSettings &s = Settings();
        s.WebSiteUrl = server.Host();
        s.WebListenPort = QString::number(server.Port());
        s.ClientID = QStringLiteral("CID-1");
        s.WelcomeImgFileName.clear();
        s.WelcomToMsgMsg = QStringLiteral("Welcome!");
        s.SupportNotAvailMsg = QStringLiteral("Please wait");
        s.SupportNotAvailReminderMsg = QStringLiteral("Still here");
        s.ReminderCount = 5;
        s.AutoOnHoldOnMinimized = false;
        session.HandleServerMessage(server::REGISTER_ACCEPTED, BodyOf(server::BuildRegisterAccepted(kSupportPort)));
        SetChatLimit(2);
    }

    void TearDown() override { Settings() = saved; }

    // A real login on the server connection, with a chat limit of 3.
    void LogIn()
    {
        session.SetNetworkCheck([] { return true; });
        session.WebSbtnClick();
        ASSERT_TRUE(server.WaitForConnections(1));
        ASSERT_GE(server.WaitForFrame(server::SUPPORT_REGISTER), 0);
        ASSERT_TRUE(server.SendFrame(0, server::REGISTER_ACCEPTED, BodyOf(server::BuildRegisterAccepted(kSupportPort))));
        ASSERT_GE(server.WaitForFrame(server::SUPPORT_READY), 0);
        ASSERT_TRUE(server.SendFrame(0, server::CHAT_LIMIT, BodyOf(server::BuildChatLimit(3))));
        ASSERT_TRUE(WaitFor([&] { return session.ChatLimit() == 3; }));
    }

    void SetChatLimit(int limit)
    {
        session.HandleServerMessage(server::CHAT_LIMIT, BodyOf(server::BuildChatLimit(limit)));
    }

    // Announces a visitor call, answers its alert (if one is shown) and waits until the console
    // has answered INITIAL_CONNECT on the new connection; returns the
    // connection's number at the fake server, -1 on failure.
    int StartCall(qint32 sc, bool accept, quint16 kind = server::CLIENT_LISTED, qint32 port = 0)
    {
        const int before = server.ConnectionCount();
        const size_t alerts = host.alerts.size();
        calls.NewCall(sc, port, QStringLiteral("www.example.com"), QStringLiteral("10.0.0.1"), kind);
        if (host.alerts.size() > alerts)
            host.Answer(alerts, accept);
        if (!server.WaitForConnections(before + 1))
            return -1;
        if (kind != server::TRANSFER_CALL && !WaitForCode(before, chat::SUPPORT_ANSWERS_TO_CLI))
            return -1;
        return before;
    }

    std::vector<quint16> CodesOn(int connection) const
    {
        std::vector<quint16> codes;
        for (const ReceivedFrame &f : server.FramesOn(connection))
            codes.push_back(f.code);
        return codes;
    }

    bool WaitForCode(int connection, quint16 code, int count = 1, int ms = 5000)
    {
        return WaitFor(
            [&] {
                int n = 0;
                for (quint16 c : CodesOn(connection))
                    n += c == code;
                return n >= count;
            },
            ms);
    }

    bool SendSessionReady(int connection, qint32 sc)
    {
        return server.SendFrame(connection, chat::SESSION_READY, BodyOf(chat::BuildSessionReady(sc)));
    }

    QStringList LogLines() const
    {
        QFile file(logPath);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    bool LogHas(const QString &text) const
    {
        for (const QString &line : LogLines())
            if (line.endsWith(QStringLiteral("  ") + text))
                return true;
        return false;
    }

    TCallList &List() { return calls.CallList(); }

    QTemporaryDir dir;
    QString logPath = dir.filePath(QStringLiteral("Velmora.log"));
    TSettings saved;
    FakeChatServer server;
    RecordingBoxes boxes;
    TLogFile log{logPath};
    ForwardingSessionHost sessionHost;
    TServerSession session{sessionHost, &log};
    TCloseSockets closer;
    RecordingCallsHost host;
    TCalls calls{host, session, closer, &log};
};

} // namespace velmora::test
