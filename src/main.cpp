// The console: one main window and its message loop. SIGTERM and SIGINT (the
// desktop session ending) run the exit procedure without questions.
#include "app/QtBoxes.h"
#include "app/Servermain.h"

#include <QApplication>
#include <QSocketNotifier>

#include <csignal>
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

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Velmora"));
    QApplication::setQuitOnLastWindowClosed(false);
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
    form->show();
    const int rc = app.exec();
    delete form;
    velmora::SetBoxes(nullptr);
    return rc;
}
