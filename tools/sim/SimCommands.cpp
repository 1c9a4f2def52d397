// The terminal commands of the simulator.
#include "SimServer.h"

#include "SimText.h"
#include "protocol/ChatMessages.h"
#include "protocol/MessageCodes.h"
#include "protocol/ServerMessages.h"

namespace velmora::sim {

// --- terminal commands -------------------------------------------------------------

QString TSimServer::HelpText()
{
    return QStringLiteral(
        "commands:\n"
        "  help                      this list\n"
        "  status                    consoles and calls\n"
        "  call [site]               a new visitor call, announced to the ready consoles\n"
        "  say <session> <text>      the visitor of a call says a line\n"
        "  end <session>             the visitor leaves (also before being answered); alias: leave\n"
        "  drop [console]            cut a console's server connection (all without a number)\n"
        "  upgrade [console]         send SERVER_UPGRADE\n"
        "  maxsockets [console]      send MAX_SOCKETS_EXCEEDED\n"
        "  register accept|refuse|maxsockets|upgrade|ignore\n"
        "                            how the next logins are answered\n"
        "  silent                    stop answering anything (no greeting, frames ignored)\n"
        "  resume                    answer again\n"
        "  limit <n>                 set the chat limit and send it to the ready consoles\n"
        "  quiet                     keep-alives printed or not (toggles)\n"
        "  quit                      stop the simulator\n"
        "a console is named by its number as printed at login, or #<connection> for one not logged in");
}

QList<int> TSimServer::CommandTargets(const QStringList &args)
{
    // Every console, one by its number, or any connection as #<id>.
    QList<int> ids;
    if (args.isEmpty()) {
        for (const auto &[id, peer] : m_peers)
            if (peer->role == Role::Console)
                ids.append(id);
    } else if (args[0].startsWith(QLatin1Char('#'))) {
        if (FindPeer(args[0].mid(1).toInt()))
            ids.append(args[0].mid(1).toInt());
    } else if (Peer *peer = FindConsoleNo(args[0].toInt())) {
        ids.append(peer->id);
    }
    return ids;
}

bool TSimServer::CommandDrop(const QStringList &args)
{
    const QList<int> ids = CommandTargets(args);
    if (ids.isEmpty()) {
        Print(QStringLiteral("[sim] no such console"));
        return false;
    }
    for (const int id : ids) {
        Print(QStringLiteral("[sim] dropping connection #%1").arg(id));
        Close(id, true);
    }
    return true;
}

bool TSimServer::CommandSendAll(const QByteArray &frame, const QStringList &args, const char *name)
{
    const QList<int> ids = CommandTargets(args);
    for (const int id : ids)
        Send(id, frame);
    Print(QStringLiteral("[sim] %1 sent to %2 connection(s)").arg(QLatin1String(name)).arg(ids.size()));
    return !ids.isEmpty();
}

bool TSimServer::Execute(const QString &line)
{
    const QString trimmed = line.trimmed();
    if (trimmed.isEmpty())
        return true;
    const QString command = trimmed.section(QLatin1Char(' '), 0, 0, QString::SectionSkipEmpty).toLower();
    const QString rest = trimmed.section(QLatin1Char(' '), 1, -1, QString::SectionSkipEmpty);
    const QStringList args = rest.split(QLatin1Char(' '), Qt::SkipEmptyParts);

    if (command == QLatin1String("help") || command == QLatin1String("?")) {
        if (m_out)
            for (const QString &l : HelpText().split(QLatin1Char('\n')))
                m_out(l);
    } else if (command == QLatin1String("quit") || command == QLatin1String("exit")) {
        Print(QStringLiteral("[sim] quitting"));
        emit QuitRequested();
        return false;
    } else if (command == QLatin1String("status")) {
        for (const auto &[id, peer] : m_peers) {
            if (peer->role != Role::Console)
                continue;
            Print(QStringLiteral("%1 #%2 ClientID \"%3\" port value %4, %5")
                      .arg(Who(*peer))
                      .arg(id)
                      .arg(Printable(ToWire(peer->clientId), 40))
                      .arg(peer->portValue)
                      .arg(peer->ready ? QStringLiteral("ready") : peer->loggedIn ? QStringLiteral("logged in")
                                                                                  : QStringLiteral("not logged in")));
        }
        static const char *const states[] = {"listed", "answered", "chatting", "being transferred", "ended"};
        for (const auto &[session, call] : m_calls)
            Print(QStringLiteral("[%1 %2] %3%4")
                      .arg(call.kind == CallKind::Visitor ? QStringLiteral("call") : QStringLiteral("chat"))
                      .arg(session)
                      .arg(QLatin1String(states[int(call.state)]))
                      .arg(call.answeredBy ? QStringLiteral(", port value %1").arg(call.answeredBy) : QString()));
        if (m_silent)
            Print(QStringLiteral("[sim] silent"));
    } else if (command == QLatin1String("call")) {
        AnnounceCall(rest);
    } else if (command == QLatin1String("say") || command == QLatin1String("end") || command == QLatin1String("leave")) {
        bool ok = false;
        const qint32 session = args.value(0).toInt(&ok);
        Call *call = ok ? FindCall(session) : nullptr;
        if (!call || call->kind != CallKind::Visitor) {
            Print(QStringLiteral("[sim] no visitor call %1").arg(args.value(0)));
        } else if (command == QLatin1String("say")) {
            const QString text = rest.section(QLatin1Char(' '), 1, -1, QString::SectionSkipEmpty);
            if (call->state == CallState::Ended || !call->supportPeer)
                Print(QStringLiteral("[sim] call %1 has nobody to talk to").arg(session));
            else if (text.isEmpty())
                Print(QStringLiteral("[sim] say what?"));
            else
                VisitorSay(*call, ToWire(text.left(kMaxTerminalText)));
        } else {
            VisitorLeave(*call, QStringLiteral("on command"));
        }
    } else if (command == QLatin1String("drop")) {
        CommandDrop(args);
    } else if (command == QLatin1String("upgrade")) {
        CommandSendAll(server::BuildServerUpgrade(), args, "SERVER_UPGRADE");
    } else if (command == QLatin1String("maxsockets")) {
        CommandSendAll(server::BuildMaxSocketsExceeded(), args, "MAX_SOCKETS_EXCEEDED");
    } else if (command == QLatin1String("register")) {
        static const std::pair<const char *, RegisterAnswer> modes[] = {
            {"accept", RegisterAnswer::Accept},         {"refuse", RegisterAnswer::Refuse},
            {"maxsockets", RegisterAnswer::MaxSockets}, {"upgrade", RegisterAnswer::Upgrade},
            {"ignore", RegisterAnswer::Ignore},
        };
        bool found = false;
        for (const auto &[name, mode] : modes) {
            if (args.value(0).toLower() == QLatin1String(name)) {
                m_options.registerAnswer = mode;
                found = true;
                Print(QStringLiteral("[sim] logins from now on: %1").arg(QLatin1String(name)));
            }
        }
        if (!found)
            Print(QStringLiteral("[sim] register accept|refuse|maxsockets|upgrade|ignore"));
    } else if (command == QLatin1String("silent")) {
        m_silent = true;
        Print(QStringLiteral("[sim] silent: nothing is answered until \"resume\""));
    } else if (command == QLatin1String("resume")) {
        m_silent = false;
        Print(QStringLiteral("[sim] answering again"));
        QList<int> waiting;
        for (const auto &[id, peer] : m_peers)
            if (!peer->greeted)
                waiting.append(id);
        for (const int id : waiting)
            if (Peer *peer = FindPeer(id))
                Greet(*peer);
    } else if (command == QLatin1String("limit")) {
        bool ok = false;
        const int limit = args.value(0).toInt(&ok);
        if (!ok || limit < 0) {
            Print(QStringLiteral("[sim] limit <n>, n >= 0"));
        } else {
            m_options.chatLimit = limit;
            int n = 0;
            for (const auto &[id, peer] : m_peers)
                if (peer->role == Role::Console && peer->ready)
                    n += Send(id, server::BuildChatLimit(limit));
            Print(QStringLiteral("[sim] chat limit %1 sent to %2 console(s)").arg(limit).arg(n));
        }
    } else if (command == QLatin1String("quiet")) {
        m_options.quietKeepAlive = !m_options.quietKeepAlive;
        Print(QStringLiteral("[sim] keep-alives %1").arg(m_options.quietKeepAlive ? QStringLiteral("hidden")
                                                                                  : QStringLiteral("shown")));
    } else {
        Print(QStringLiteral("[sim] unknown command \"%1\"; \"help\" lists them").arg(Printable(ToWire(command), 40)));
    }
    return true;
}

} // namespace velmora::sim
