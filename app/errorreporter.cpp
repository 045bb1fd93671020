#include "errorreporter.h"

#include "messageboxes.h"

void ErrorReporter::showWhenDone(Show show) noexcept
{
    if (m_depth > 0 || m_pending.isEmpty())
        return;
    if (show == Show::AfterHandler)
        showPending();
    else
        QMetaObject::invokeMethod(
            m_context, [this] { showPending(); }, Qt::QueuedConnection);
}

void ErrorReporter::showPending() noexcept
{
    // The box runs a nested event loop; handlers that run meanwhile add to the
    // queue and this loop shows their failures after the current one.
    if (m_showing)
        return;
    m_showing = true;
    while (!m_pending.isEmpty()) {
        const KavroError e = m_pending.takeFirst();
        try {
            m_boxes->show(e.text(), QStringLiteral("Kavro"), MessageBoxes::Ok,
                          MessageBoxes::Critical);
        } catch (...) {
        }
    }
    m_showing = false;
}
