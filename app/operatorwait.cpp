#include "operatorwait.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>

void OperatorWhileWaiting::begin()
{
    if (std::exchange(m_waiting, true))
        return;
    m_modal = QGuiApplication::modalWindow();
    QCoreApplication::instance()->installEventFilter(this);
}

void OperatorWhileWaiting::end()
{
    if (std::exchange(m_waiting, false))
        QCoreApplication::instance()->removeEventFilter(this);
}

bool OperatorWhileWaiting::eventFilter(QObject *, QEvent *event)
{
    if (QGuiApplication::modalWindow() != m_modal)
        return false;
    switch (event->type()) {
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
