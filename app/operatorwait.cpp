#include "operatorwait.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QTimer>

OperatorWhileWaiting::OperatorWhileWaiting(std::function<void()> cancel)
    : m_cancel(std::move(cancel)), m_modal(QGuiApplication::modalWindow())
{
    QCoreApplication::instance()->installEventFilter(this);
}

OperatorWhileWaiting::~OperatorWhileWaiting()
{
    if (QWindow *window = m_closing)
        QTimer::singleShot(0, window, [window] { window->close(); });
}

bool OperatorWhileWaiting::eventFilter(QObject *watched, QEvent *event)
{
    if (QGuiApplication::modalWindow() != m_modal)
        return false;
    switch (event->type()) {
    case QEvent::Close:
        // The window system's request, not a window the program closes.
        if (!watched->isWindowType() || !event->spontaneous())
            return false;
        m_closing = static_cast<QWindow *>(watched);
        m_cancel();
        return true;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::NonClientAreaMouseButtonRelease:
    case QEvent::NonClientAreaMouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::InputMethod:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
    case QEvent::Drop:
        return true;
    default:
        return false;
    }
}
