#pragma once

#include "kavroerror.h"

#include <QList>

class MessageBoxes;

// The one place where a failure nobody trapped reaches the operator. Every
// handler runs through run(): a KavroError (or anything else thrown) ends the
// handler there, and once the outermost handler has ended the failure is shown
// as "Fehler N: ..." while the program goes on. Nothing thrown ever gets past
// run() into Qt's event loop.
class ErrorReporter
{
public:
    explicit ErrorReporter(MessageBoxes *boxes) : m_boxes(boxes) {}

    template <class Handler>
    void run(Handler &&handler) noexcept
    {
        ++m_depth;
        try {
            handler();
        } catch (const KavroError &e) {
            report(e);
        } catch (const std::exception &e) {
            report(KavroError(51, QStringLiteral("Interner Fehler: %1").arg(QString::fromLocal8Bit(e.what()))));
        } catch (...) {
            report(KavroError(51, QStringLiteral("Interner Fehler")));
        }
        --m_depth;
        if (m_depth == 0)
            showPending();
    }

    // Queues a failure; it is shown when the running handler has ended, so a
    // modal box never opens in the middle of a handler's work.
    void report(const KavroError &e);

private:
    void showPending() noexcept;

    MessageBoxes *const m_boxes;
    QList<KavroError> m_pending;
    int m_depth = 0;
    bool m_showing = false;
};
