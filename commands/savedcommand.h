#pragma once

#include "commandtext.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// The terminator a saved command goes out with: the one the main window's
// options pick at the moment it is sent, or one of those five of its own.
enum class TerminatorChoice { Window, None, Cr, Lf, CrLf, LfCr };

// As the operator picks it: "wie im Fenster", then the main window's captions.
QString terminatorCaption(TerminatorChoice choice);
// As the file keeps it: "fenster", "kein", "cr", "lf", "crlf", "lfcr".
QString terminatorKey(TerminatorChoice choice);
std::optional<TerminatorChoice> terminatorFromKey(const QString &key);
Terminator resolved(TerminatorChoice choice, Terminator window);

// The bytes of a text as the command box holds it with a terminator: the
// same road as the box's own "Senden" (commandToSend, then the code page).
QByteArray bytesToSend(const QString &text, TerminatorChoice choice, Terminator window);

// One step of a sequence.
struct SequenceStep {
    enum Kind { Send, Pause, WaitFor };
    Kind kind = Send;
    // Send: the text as the command box holds it. WaitFor: the text looked
    // for in what comes back, or a regular expression.
    QString text;
    TerminatorChoice terminator = TerminatorChoice::Window; // Send
    // Pause: how long. WaitFor: how long at most; 0 waits until stopped.
    int ms = 0;
    bool regex = false; // WaitFor
    bool goOn = false;  // WaitFor: when the time runs out, go on instead of stopping

    friend bool operator==(const SequenceStep &, const SequenceStep &) = default;
};

// A saved command. Its text is kept exactly as the command box held it:
// control characters and bytes typed in hex stand as their characters of the
// code page, a line break made with Enter as CR LF.
struct SavedCommand {
    static constexpr int MinPeriodMs = 10;
    static constexpr int Keys = 12; // F1 ... F12

    QString name;
    QString text;
    int key = 0; // 1 ... 12 for F1 ... F12; 0 for none
    TerminatorChoice terminator = TerminatorChoice::Window;
    // Sent every this many ms until stopped; 0 sends it once.
    int periodMs = 0;
    // A sequence: these steps instead of the text, run `times` times.
    QList<SequenceStep> steps;
    int times = 1;

    bool isSequence() const { return !steps.isEmpty(); }
    QByteArray bytes(Terminator window) const { return bytesToSend(text, terminator, window); }

    friend bool operator==(const SavedCommand &, const SavedCommand &) = default;
};

// A name for a text as the command box holds it: its characters, the bytes
// shown boxed by their names in angle brackets ("AT<CR>"), the trailing line
// breaks left out.
QString readableName(const QString &text);

// "F1" ... "F12"; empty for 0.
QString keyName(int key);
// 1 ... 12 for "F1" ... "F12" (any case); 0 for anything else.
int keyNumber(const QString &name);
