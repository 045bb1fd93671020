#pragma once

#include "capture.h"
#include "errorreporter.h"
#include "form.h"

#include <QFont>
#include <QWidget>

#include <memory>

class CommonDialog;
class MessageBoxes;
class SerialPort;

// The terminal window. It builds every control at its design place and value,
// owns the form-level state and the components, and wires the eight events to
// their handlers. The port, the message boxes and the file dialog may be handed
// in (tests do); otherwise the window makes the real ones.
class KavroWindow : public QWidget
{
    Q_OBJECT
public:
    explicit KavroWindow(SerialPort *port = nullptr, MessageBoxes *boxes = nullptr,
                         CommonDialog *dialog = nullptr, QWidget *parent = nullptr);
    ~KavroWindow() override;

    Form &form() { return m_form; }
    ErrorReporter &reporter() { return m_reporter; }
    Capture &capture() { return m_capture; }

    // The window's font at a pixel size. Pixel sizes keep the captions in
    // their fixed boxes whatever the screen's resolution.

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildControls();
    void setTabChain();
    void wireEvents();
    void Form_Unload();

    std::unique_ptr<MessageBoxes> m_ownBoxes;
    std::unique_ptr<CommonDialog> m_ownDialog;
    Form m_form;
    ErrorReporter m_reporter;
    Capture m_capture;
};
