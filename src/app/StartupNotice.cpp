#include "app/StartupNotice.h"

#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

#include <cstring>

// Xlib's macros (None, Bool, Status, ...) clash with Qt's names: included last.
#include <X11/Xlib.h>

namespace velmora {

QByteArray StartupRemoveMessage(const QByteArray &startupId)
{
    QByteArray message = QByteArrayLiteral("remove: ID=");
    for (const char c : startupId) {
        if (c == ' ' || c == '"' || c == '\\')
            message += '\\';
        message += c;
    }
    message += '\0';
    return message;
}

void CompleteStartupNotice(const QByteArray &startupId)
{
    if (startupId.isEmpty())
        return;
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    Display *display = x11 ? x11->display() : nullptr;
    if (!display)
        return;
    const QByteArray message = StartupRemoveMessage(startupId);
    const Window root = DefaultRootWindow(display);
    // The messages name a window of the sender's; it need never be mapped.
    const Window sender = XCreateSimpleWindow(display, root, -100, -100, 1, 1, 0, 0, 0);
    const Atom begin = XInternAtom(display, "_NET_STARTUP_INFO_BEGIN", False);
    const Atom more = XInternAtom(display, "_NET_STARTUP_INFO", False);
    constexpr qsizetype kChunk = 20; // bytes of one 8-bit client message
    for (qsizetype offset = 0; offset < message.size(); offset += kChunk) {
        XEvent event;
        std::memset(&event, 0, sizeof event);
        event.xclient.type = ClientMessage;
        event.xclient.display = display;
        event.xclient.window = sender;
        event.xclient.message_type = offset == 0 ? begin : more;
        event.xclient.format = 8;
        std::memcpy(event.xclient.data.b, message.constData() + offset,
                    size_t(qMin(kChunk, message.size() - offset)));
        XSendEvent(display, root, False, PropertyChangeMask, &event);
    }
    XDestroyWindow(display, sender);
    XFlush(display);
}

} // namespace velmora
