#include "windowplacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace
{

// The rectangle moved and made smaller as far as needed to lie wholly within
// `available`.
QRect within(QRect r, const QRect &available)
{
    r.setSize(r.size().boundedTo(available.size()));
    r.moveLeft(std::clamp(r.left(), available.left(), available.right() + 1 - r.width()));
    r.moveTop(std::clamp(r.top(), available.top(), available.bottom() + 1 - r.height()));
    return r;
}

} // namespace

QRect besideMainWindow(const QRect &main, const QSize &frame, const QRect &available)
{
    QRect r(QPoint(), frame);
    if (main.isNull()) {
        r.moveCenter(available.center());
    } else if (main.right() + frame.width() <= available.right()) {
        r.moveTopLeft(QPoint(main.right() + 1, main.top()));
    } else if (main.left() - frame.width() >= available.left()) {
        r.moveTopRight(QPoint(main.left() - 1, main.top()));
    } else {
        r.moveCenter(main.center());
        r.moveTop(main.top());
    }
    return within(r, available);
}

void placeBesideMainWindow(QWidget *window, QWidget *main, bool remembered)
{
    // The window manager's frame is mostly not known before the window is
    // shown; the main window's is the best guess for it then.
    const QWindow *handle = window->windowHandle();
    const QMargins margins = handle ? handle->frameMargins() : QMargins();
    const QSize decoration = !margins.isNull() ? QSize(margins.left() + margins.right(),
                                                       margins.top() + margins.bottom())
                             : main            ? main->frameGeometry().size() - main->size()
                                               : QSize(0, 0);
    const QRect frame(window->frameGeometry().topLeft(), window->size() + decoration);
    QRect target;
    if (remembered) {
        // Where the operator left it, on the screen that shows most of it;
        // off every screen, it opens as it did the first time.
        qint64 most = 0;
        for (const QScreen *screen : QGuiApplication::screens()) {
            const QRect common = screen->availableGeometry() & frame;
            const qint64 area = qint64(common.width()) * common.height();
            if (!common.isEmpty() && area > most) {
                most = area;
                target = within(frame, screen->availableGeometry());
            }
        }
    }
    if (target.isNull()) {
        const QScreen *screen = main ? main->screen() : window->screen();
        target = besideMainWindow(main ? main->frameGeometry() : QRect(), frame.size(),
                                  screen->availableGeometry());
    }
    window->resize(target.size() - decoration);
    window->move(target.topLeft());
}

void showBesideMainWindow(QWidget *window)
{
    if (window->isMinimized())
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    if (!window->isVisible() && !window->property("placed").toBool()) {
        window->setProperty("placed", true);
        QWidget *parent = window->parentWidget();
        placeBesideMainWindow(window, parent ? parent->window() : nullptr, false);
    }
    window->show();
    window->raise();
    window->activateWindow();
}
