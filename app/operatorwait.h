#pragma once

#include <QObject>
#include <QPointer>
#include <QWindow>

#include <functional>

// What the operator does while the port waits (for a serial server). Clicks and
// keys are dropped: queued for later, as a loop that leaves input out would
// keep them, five clicks on "Öffnen" would open, close and open again once
// the wait is over. A window closed meanwhile (its close button, Alt+F4)
// cancels the wait at once and is closed again once the wait has returned,
// so that the program ends as it always does. A dialog that opens during
// the wait (a failure shown from a timer) is answered as usual.
class OperatorWhileWaiting : public QObject
{
public:
    // cancel: ends the wait at once.
    explicit OperatorWhileWaiting(std::function<void()> cancel);
    ~OperatorWhileWaiting() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    std::function<void()> m_cancel;
    QWindow *const m_modal;
    QPointer<QWindow> m_closing;
};
