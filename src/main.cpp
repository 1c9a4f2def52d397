// The console: one main window and its message loop. SIGTERM and SIGINT (the
// desktop session ending) run the exit procedure without questions.
//
// Before the window is built, the start options pick the working folder and
// the program changes into it; a console already running there is brought
// to the front instead of starting a second one.
#include "app/NewCnctDlg.h"
#include "app/QtBoxes.h"
#include "app/Servermain.h"
#include "app/SingleInstance.h"
#include "app/StartupNotice.h"
#include "app/StartOptions.h"
#include "Version.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};

void OnTerminationSignal(int)
{
    const char byte = 1;
    // Only async-signal-safe work here: the event loop does the rest.
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

void InstallSignalHandlers()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_signalPipe) != 0)
        return;
    struct sigaction action = {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

QStringList RawArguments(int argc, char **argv)
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    return args;
}

// On the terminal, and in a box when started from the desktop, where nobody
// reads the terminal.
void ReportStartFailure(const velmora::TStartOptions &options, const QString &text)
{
    std::fprintf(stderr, "velmora: %s\n", qPrintable(text));
    if (options.desktop)
        QMessageBox::critical(nullptr, QStringLiteral("Error"), text);
}

} // namespace

int main(int argc, char **argv)
{
    using velmora::TStartOptions;
    // Text-only requests must work without a display, so they are answered
    // before the toolkit opens one.
    if (velmora::WantsTextOnly(RawArguments(argc, argv))) {
        const TStartOptions options = velmora::ParseStartOptions(RawArguments(argc, argv));
        if (options.action == TStartOptions::Action::ShowVersion)
            std::fputs(qPrintable(velmora::VersionText(QString::fromLatin1(velmora::kVersion))), stdout);
        else
            std::fputs(qPrintable(velmora::HelpText(QStringLiteral("velmora"))), stdout);
        return 0;
    }

    // The toolkit clears it while it starts; a start that shows no window
    // must still report to the launcher that it is done.
    const QByteArray startupId = qgetenv("DESKTOP_STARTUP_ID");
    const QByteArray activationToken = qgetenv("XDG_ACTIVATION_TOKEN");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Velmora"));
    QApplication::setApplicationVersion(QString::fromLatin1(velmora::kVersion));
    // The desktop entry's name: Wayland compositors match windows to it.
    QGuiApplication::setDesktopFileName(QStringLiteral("velmora"));
    QApplication::setQuitOnLastWindowClosed(false);
    velmora::TNewCnctDlg::WatchTyping();

    const TStartOptions options = velmora::ParseStartOptions(app.arguments().mid(1));
    if (options.action == TStartOptions::Action::Error) {
        std::fprintf(stderr, "velmora: %s\nTry 'velmora --help'.\n", qPrintable(options.error));
        return 2;
    }
    QString error;
    const QString folder = velmora::ResolveWorkFolder(options, QDir::currentPath(), &error);
    if (folder.isEmpty()) {
        ReportStartFailure(options, QStringLiteral("Cannot use a working folder: %1").arg(error));
        return 1;
    }
    if (folder != QDir::currentPath() && !QDir::setCurrent(folder)) {
        ReportStartFailure(options, QStringLiteral("Cannot change into the working folder %1").arg(folder));
        return 1;
    }

    velmora::TSingleInstance instance(folder);
    instance.SetActivationToken(activationToken);
    switch (instance.Start()) {
    case velmora::TSingleInstance::Result::First:
        if (!instance.ListenError().isEmpty())
            std::fprintf(stderr, "velmora: later starts in %s cannot reach this console: %s\n",
                         qPrintable(folder), qPrintable(instance.ListenError()));
        break;
    case velmora::TSingleInstance::Result::Raised:
        velmora::CompleteStartupNotice(startupId);
        std::fprintf(stderr, "velmora: a console already runs in %s; its window was brought to the front\n",
                     qPrintable(folder));
        return 0;
    case velmora::TSingleInstance::Result::Asked:
        velmora::CompleteStartupNotice(startupId);
        std::fprintf(stderr,
                     "velmora: a console already runs in %s; the desktop may keep its window behind others "
                     "(find it in the task bar)\n",
                     qPrintable(folder));
        return 0;
    case velmora::TSingleInstance::Result::Busy:
        velmora::CompleteStartupNotice(startupId);
        ReportStartFailure(options, QStringLiteral("A console already runs in %1 and does not answer.").arg(folder));
        return 1;
    }
    velmora::TQtBoxes boxes;
    velmora::SetBoxes(&boxes);
    InstallSignalHandlers();

    auto *form = new velmora::TMainForm;
    QSocketNotifier *signalNotifier = nullptr;
    if (g_signalPipe[0] >= 0) {
        signalNotifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, form);
        QObject::connect(signalNotifier, &QSocketNotifier::activated, form, [form] {
            char buffer[16];
            while (::read(g_signalPipe[0], buffer, sizeof buffer) > 0) {
            }
            form->ExitProcedure(false);
        });
    }
    QObject::connect(&instance, &velmora::TSingleInstance::RaiseRequested, form, &velmora::TMainForm::BringToFront);
    form->show();
    form->OpenSetUpOnFirstStart();
    const int rc = app.exec();
    delete form;
    velmora::SetBoxes(nullptr);
    return rc;
}
