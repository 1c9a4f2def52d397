// velmora-sim: plays the chat server and its web visitors for the console.
// Options set it up for scripted runs; the terminal takes commands ("help").
#include "SimServer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>
#include <unistd.h>

using velmora::sim::RegisterAnswer;
using velmora::sim::SimOptions;
using velmora::sim::TSimServer;

namespace {

// Line-based commands from standard input, without blocking the event loop.
class TerminalReader : public QObject {
public:
    TerminalReader(TSimServer &server, QObject *parent) : QObject(parent), m_server(server)
    {
        m_notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, [this] { Read(); });
    }

private:
    void Read()
    {
        char chunk[4096];
        const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (n <= 0) {
            // End of input (e.g. started in the background): keep serving.
            m_notifier->setEnabled(false);
            return;
        }
        m_pending.append(chunk, n);
        qsizetype newline;
        while ((newline = m_pending.indexOf('\n')) >= 0) {
            const QByteArray line = m_pending.left(newline);
            m_pending.remove(0, newline + 1);
            if (!m_server.Execute(QString::fromLocal8Bit(line)))
                return;
        }
        // A line nobody ends is not a command.
        if (m_pending.size() > 64 * 1024)
            m_pending.clear();
    }

    TSimServer &m_server;
    QSocketNotifier *m_notifier;
    QByteArray m_pending;
};

bool ParseAnswer(const QString &text, RegisterAnswer &answer)
{
    static const std::pair<const char *, RegisterAnswer> modes[] = {
        {"accept", RegisterAnswer::Accept},         {"refuse", RegisterAnswer::Refuse},
        {"maxsockets", RegisterAnswer::MaxSockets}, {"upgrade", RegisterAnswer::Upgrade},
        {"ignore", RegisterAnswer::Ignore},
    };
    for (const auto &[name, mode] : modes)
        if (text == QLatin1String(name)) {
            answer = mode;
            return true;
        }
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velmora-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Chat-server simulator for the Velmora console: accepts console logins, announces visitor calls and "
        "plays the visitors, relays supporter chats and transfers. Type \"help\" for the terminal commands."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("port"), QStringLiteral("TCP port to listen on (default 30000)."),
                                 QStringLiteral("[port]"));
    const QCommandLineOption host(QStringLiteral("host"), QStringLiteral("Address to listen on (default 127.0.0.1)."),
                                  QStringLiteral("address"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption refuse(QStringLiteral("refuse"), QStringLiteral("Refuse every login."));
    const QCommandLineOption registerMode(
        QStringLiteral("register"),
        QStringLiteral("How logins are answered: accept, refuse, maxsockets, upgrade or ignore."),
        QStringLiteral("mode"));
    const QCommandLineOption clientId(QStringLiteral("client-id"), QStringLiteral("Accept only this ClientID."),
                                      QStringLiteral("id"));
    const QCommandLineOption chatLimit(QStringLiteral("chat-limit"), QStringLiteral("Chat limit sent (default 3)."),
                                       QStringLiteral("n"), QStringLiteral("3"));
    const QCommandLineOption callEvery(QStringLiteral("call-every"),
                                       QStringLiteral("A visitor call every SECONDS while a console is ready; 0 = off."),
                                       QStringLiteral("seconds"), QStringLiteral("0"));
    const QCommandLineOption lines(QStringLiteral("lines"),
                                   QStringLiteral("Lines a visitor says before ending the chat; 0 = never (default 4)."),
                                   QStringLiteral("n"), QStringLiteral("4"));
    const QCommandLineOption leaveAfter(QStringLiteral("leave-after"),
                                        QStringLiteral("A visitor not answered within SECONDS leaves; 0 = waits."),
                                        QStringLiteral("seconds"), QStringLiteral("0"));
    const QCommandLineOption typing(QStringLiteral("typing-ms"),
                                    QStringLiteral("A visitor's typing time per line (default 1500)."),
                                    QStringLiteral("ms"), QStringLiteral("1500"));
    const QCommandLineOption reply(QStringLiteral("reply-ms"),
                                   QStringLiteral("Delay before a visitor starts answering (default 1500)."),
                                   QStringLiteral("ms"), QStringLiteral("1500"));
    const QCommandLineOption quiet(QStringLiteral("quiet-keepalive"), QStringLiteral("Do not print keep-alives."));
    const QCommandLineOption at(QStringLiteral("at"),
                                QStringLiteral("Run a terminal command SECONDS after start, e.g. --at \"30:drop 1\". "
                                               "May be given more than once."),
                                QStringLiteral("seconds:command"));
    parser.addOptions({host, refuse, registerMode, clientId, chatLimit, callEvery, lines, leaveAfter, typing, reply,
                       quiet, at});
    parser.process(app);

    auto fail = [](const QString &text) {
        std::fprintf(stderr, "velmora-sim: %s\n", qPrintable(text));
        return 2;
    };
    auto number = [&](const QCommandLineOption &option, int min, int max, int &out) {
        bool ok = false;
        const int value = parser.value(option).toInt(&ok);
        if (!ok || value < min || value > max)
            return false;
        out = value;
        return true;
    };

    SimOptions options;
    options.host = parser.value(host);
    int port = 30000;
    if (!parser.positionalArguments().isEmpty()) {
        bool ok = false;
        port = parser.positionalArguments().first().toInt(&ok);
        if (!ok || port < 1 || port > 65535)
            return fail(QStringLiteral("port must be 1..65535"));
    }
    options.port = quint16(port);
    if (parser.isSet(refuse))
        options.registerAnswer = RegisterAnswer::Refuse;
    if (parser.isSet(registerMode) && !ParseAnswer(parser.value(registerMode), options.registerAnswer))
        return fail(QStringLiteral("--register takes accept, refuse, maxsockets, upgrade or ignore"));
    options.onlyClientId = parser.value(clientId);
    int limit = 0;
    if (!number(chatLimit, 0, 1000000, limit))
        return fail(QStringLiteral("--chat-limit takes a number >= 0"));
    options.chatLimit = limit;
    if (!number(callEvery, 0, 86400, options.callEverySeconds) || !number(lines, 0, 1000000, options.visitorLines) ||
        !number(leaveAfter, 0, 86400, options.leaveAfterSeconds) || !number(typing, 0, 600000, options.typingMs) ||
        !number(reply, 0, 600000, options.replyDelayMs))
        return fail(QStringLiteral("a time or count option is not a number in range; see --help"));
    options.quietKeepAlive = parser.isSet(quiet);

    TSimServer server(options);
    QString error;
    if (!server.Start(&error))
        return fail(QStringLiteral("cannot listen on %1:%2: %3").arg(options.host).arg(port).arg(error));
    QObject::connect(&server, &TSimServer::QuitRequested, &app, &QCoreApplication::quit, Qt::QueuedConnection);

    for (const QString &item : parser.values(at)) {
        bool ok = false;
        const double seconds = item.section(QLatin1Char(':'), 0, 0).toDouble(&ok);
        const QString command = item.section(QLatin1Char(':'), 1);
        if (!ok || seconds < 0 || command.trimmed().isEmpty())
            return fail(QStringLiteral("--at wants SECONDS:COMMAND, got \"%1\"").arg(item));
        QTimer::singleShot(int(seconds * 1000), &server, [&server, command] { server.Execute(command); });
    }

    TerminalReader terminal(server, &app);
    return app.exec();
}
