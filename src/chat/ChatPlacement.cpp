#include "chat/ChatPlacement.h"

#include "chat/ChatProperties.h"
#include "chat/QuietShow.h"

#include <QApplication>
#include <QMainWindow>
#include <QScreen>
#include <QWidget>

#include <cstdlib>

namespace velmora {

namespace {

QSize g_remembered;
std::optional<bool> g_desktopPlaces;

bool SameCorner(const QPoint &a, const QPoint &b)
{
    return std::abs(a.x() - b.x()) < kCascadeStep / 2 && std::abs(a.y() - b.y()) < kCascadeStep / 2;
}

bool CornerTaken(const QPoint &at, const QList<QRect> &chats)
{
    for (const QRect &chat : chats)
        if (SameCorner(at, chat.topLeft()))
            return true;
    return false;
}

} // namespace

QPoint ExtraToolsPosition(const QRect &chatFrame, const QSize &tools, const QRect &screen)
{
    int x = chatFrame.left() + chatFrame.width();
    if (x + tools.width() > screen.left() + screen.width() && chatFrame.left() - tools.width() >= screen.left())
        x = chatFrame.left() - tools.width();
    int y = chatFrame.top() + 200;
    if (!screen.isEmpty()) {
        x = qMax(screen.left(), qMin(x, screen.left() + screen.width() - tools.width()));
        y = qMax(screen.top(), qMin(y, screen.top() + screen.height() - tools.height()));
    }
    return {x, y};
}

QPoint CascadePosition(const QSize &size, const QList<QRect> &chats, const QRect &avoid, const QRect &screen)
{
    constexpr int kGap = 8;
    const QPoint origin = screen.topLeft() + QPoint(kGap, kGap);
    const int columns = qMax(1, (screen.width() - size.width() - kGap) / kCascadeStep + 1);
    const int rows = qMax(1, (screen.height() - size.height() - kGap) / kCascadeStep + 1);
    // Cascades run down the diagonals of a grid of steps: the main diagonal
    // first, then the ones further right, then those further down.
    QList<int> diagonals;
    for (int o = 0; o < columns; ++o)
        diagonals << o;
    for (int o = 1; o < rows; ++o)
        diagonals << -o;
    // Side by side first: the first spot, row by row, that covers neither the
    // call list nor another chat.
    for (int j = 0; j < rows; ++j) {
        for (int i = 0; i < columns; ++i) {
            const QRect rect(origin + QPoint(i * kCascadeStep, j * kCascadeStep), size);
            if (avoid.isValid() && rect.intersects(avoid))
                continue;
            bool free = true;
            for (const QRect &chat : chats)
                free = free && !rect.intersects(chat);
            if (free)
                return rect.topLeft();
        }
    }
    // Then cascaded: first off the call list; where the screen has no room
    // for that, only off the other chats' corners.
    for (const bool keepOffMain : {true, false}) {
        if (keepOffMain && !avoid.isValid())
            continue;
        for (const int o : diagonals) {
            for (int k = 0;; ++k) {
                const int i = o > 0 ? k + o : k;
                const int j = o < 0 ? k - o : k;
                if (i >= columns || j >= rows)
                    break;
                const QPoint at = origin + QPoint(i * kCascadeStep, j * kCascadeStep);
                const QRect rect(at, size);
                if (keepOffMain && rect.intersects(avoid))
                    continue;
                if (!CornerTaken(at, chats))
                    return at;
            }
        }
    }
    // A screen full of chats: the least crowded corner is as good as any.
    return origin;
}

QSize RememberedChatSize(const QSize &minimum)
{
    return g_remembered.isValid() ? g_remembered.expandedTo(minimum) : minimum;
}

void RememberChatSize(const QSize &size)
{
    if (size.isValid())
        g_remembered = size;
}

bool HasRememberedChatSize()
{
    return g_remembered.isValid();
}

QPoint OpeningPosition(const QWidget *window, const QSize &size, const QList<QRect> &alsoAvoid)
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return window->pos();
    QList<QRect> chats = alsoAvoid;
    QRect mainWindow;
    QMargins frame;
    for (QWidget *top : QApplication::topLevelWidgets()) {
        if (top == window || !top->isVisible() || top->isMinimized())
            continue;
        if (top->property(kChatNumberProperty).isValid() || top->property(kSupporterChatProperty).toBool()) {
            chats.append(top->frameGeometry());
        } else if (qobject_cast<QMainWindow *>(top)) {
            mainWindow = top->frameGeometry();
            const QRect inner = top->geometry();
            frame = QMargins(inner.left() - mainWindow.left(), inner.top() - mainWindow.top(),
                             mainWindow.right() - inner.right(), mainWindow.bottom() - inner.bottom());
        }
    }
    return CascadePosition(size.grownBy(frame), chats, mainWindow, screen->availableGeometry());
}

QSize OpeningChatSize(const QSize &minimum)
{
    QSize size = RememberedChatSize(minimum);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        size = size.boundedTo(screen->availableGeometry().size()).expandedTo(minimum);
    return size;
}

bool DesktopPlacesWindows()
{
    if (!g_desktopPlaces)
        g_desktopPlaces = QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
    return *g_desktopPlaces;
}

void SetDesktopPlacesWindows(std::optional<bool> places)
{
    g_desktopPlaces = places;
}

} // namespace velmora
