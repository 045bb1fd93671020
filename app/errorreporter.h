#pragma once

#include "kavroerror.h"

#include <QList>
#include <QObject>

class MessageBoxes;

// The one place where a failure nobody trapped reaches the operator. Every
// handler runs through run(): a KavroError (or anything else thrown) ends the
// handler there, and once the outermost handler has ended the failure is shown
// as "Fehler N: ..." while the program goes on. Nothing thrown ever gets past
// run() into Qt's event loop. A failure found outside any handler takes the
// same road through report().
class ErrorReporter
{
public:
    // context: the object whose event loop shows deferred failures.
    ErrorReporter(MessageBoxes *boxes, QObject *context) : m_boxes(boxes), m_context(context) {}

    // When a failure is shown: right after the handler, or from the event
    // loop once the signal that ran the handler has returned. The receive
    // event wants the latter: a box opened inside the port's own signal
    // would hold back the port's next signals, and the view would stand still
    // while the operator reads the message.
    enum class Show { AfterHandler, FromEventLoop };

    template <class Handler> void run(Handler &&handler, Show show = Show::AfterHandler) noexcept
    {
        ++m_depth;
        try {
            handler();
        } catch (const KavroError &e) {
            m_pending.append(e);
        } catch (const std::exception &e) {
            m_pending.append(KavroError(
                Err::Internal,
                QStringLiteral("Interner Fehler: %1").arg(QString::fromLocal8Bit(e.what()))));
        } catch (...) {
            m_pending.append(KavroError(Err::Internal, errorDescription(Err::Internal)));
        }
        --m_depth;
        showWhenDone(show);
    }

    // A failure found outside any handler (a capture write, a line change the
    // device refused when a timer ended it, a command's rest written in the
    // background): shown as one a handler raised, after the running handler
    // if one runs, else as `show` says.
    void report(const KavroError &e, Show show = Show::AfterHandler) noexcept
    {
        m_pending.append(e);
        showWhenDone(show);
    }

private:
    // Shows what waits once no handler runs any more.
    void showWhenDone(Show show) noexcept;
    void showPending() noexcept;

    MessageBoxes *const m_boxes;
    QObject *const m_context;
    QList<KavroError> m_pending;
    int m_depth = 0;
    bool m_showing = false;
};
