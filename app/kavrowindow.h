#pragma once

#include "capture.h"
#include "errorreporter.h"
#include "seriallink.h"

#include <QWidget>

#include <memory>

class CommonDialog;
class MessageBoxes;
class SerialPort;

// The terminal window. It builds every control at its design place and value,
// owns the components and the handlers with their state, and wires the eight
// events to the handlers. The port, the message boxes and the file dialog may
// be handed in (tests do); otherwise the window makes the real ones.
class KavroWindow : public QWidget
{
    Q_OBJECT
public:
    explicit KavroWindow(SerialPort *port = nullptr, MessageBoxes *boxes = nullptr,
                         CommonDialog *dialog = nullptr, QWidget *parent = nullptr);
    ~KavroWindow() override;

    SerialPort &port() { return *m_port; }
    SerialLink &link() { return *m_link; }
    Capture &capture() { return *m_capture; }
    ErrorReporter &reporter() { return m_reporter; }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildControls();
    void setTabChain();
    void wireEvents();
    void Form_Unload();

    std::unique_ptr<MessageBoxes> m_ownBoxes;
    std::unique_ptr<CommonDialog> m_ownDialog;
    MessageBoxes &m_boxes;
    CommonDialog &m_dialog;
    ErrorReporter m_reporter;
    SerialPort *const m_port;
    LinkControls m_linkControls;
    CaptureControls m_captureControls;
    std::unique_ptr<Capture> m_capture;
    std::unique_ptr<SerialLink> m_link;
};
