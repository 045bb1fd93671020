#pragma once

#include <QObject>

class QWindow;

// What the operator does while an opening waits for a serial server: clicks
// and keys are dropped, not kept for later; five clicks on "Öffnen" would
// otherwise open, close and open again once the server has answered. A
// request to close a window goes through: closing the main window ends the
// wait and the program as it always does. A dialog that opens during the
// wait (a failure shown from a timer) is answered as usual.
class OperatorWhileWaiting : public QObject
{
public:
    // Clicks and keys are dropped from now on, until end().
    void begin();
    void end();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool m_waiting = false;
    QWindow *m_modal = nullptr;
};
