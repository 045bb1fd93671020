#pragma once

#include "filenumbers.h"
#include "form.h"

class CommonDialog;
class ErrorReporter;

// Recording received units into the capture file (file number 1), and the
// activity bar that runs meanwhile.
class Capture : public CaptureSink
{
public:
    Capture(Form &form, CommonDialog &dialog, ErrorReporter &reporter);

    // The click of StartRec: starts a capture, or stops the running one.
    void StartRec_Click();
    // A tick of Timer1.
    void Timer1_Timer();

    // The capture write; a write that fails stops the capture and tells the
    // operator once.
    void write(QByteArrayView unit) override;
    void endOfEvent() override;

    FileNumbers &files() { return m_files; }

private:
    void startSequence();
    void stopSequence();
    void stopAfterFailure(const KavroError &e) noexcept;

    Form &m_form;
    CommonDialog &m_dialog;
    ErrorReporter &m_reporter;
    FileNumbers m_files;
};
