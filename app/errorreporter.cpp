#include "errorreporter.h"

#include "messageboxes.h"

void ErrorReporter::report(const KavroError &e)
{
    m_pending.append(e);
    if (m_depth == 0)
        showPending();
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
