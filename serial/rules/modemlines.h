#pragma once

#include <QString>

#include <optional>

// The lines of a serial port beside its data: DTR and RTS go out, CTS, DSR,
// DCD and RI come in. A line whose level is not known (a serial server that
// has not said it yet) is empty.
struct ModemLines {
    std::optional<bool> dtr, rts;
    std::optional<bool> cts, dsr, dcd, ri;

    friend bool operator==(const ModemLines &, const ModemLines &) = default;
};

// What the lines of a port can be asked to do right now.
enum class LineAccess {
    Full,           // an open device, or an open port of a serial server (RFC 2217)
    NoControlLines, // an open tcp:// port: bytes only
    Away,           // the device is away (or the server unreachable) and waited for
    Closed,         // the port is not open
};

// Why the lines cannot be used now, in the operator's words; empty for Full.
QString lineRefusal(LineAccess access);
// Throws the refusal of an access other than Full as KavroError: 8012 while
// closed, 8021 while away, 380 on a tcp:// port.
void checkLineAccess(LineAccess access);

// The lines of a port as the port offers them. Every change is read back from
// the device: lines() afterwards tells what the line really is, also when
// the device took the change without a word. A change the port cannot make
// now, or that the device refuses, throws KavroError (the latter 8020, with
// the system's reason). A serial server is asked and the call returns; until
// its answer comes, lines() reads that line as unknown, and a refusal is told
// by the port as a failure of its own.
class ModemControl
{
public:
    virtual ~ModemControl() = default;

    virtual LineAccess lineAccess() const = 0;
    virtual void setDtr(bool on) = 0;
    virtual void setRts(bool on) = 0;
    // Holds the line in the break state until called with false.
    virtual void setBreak(bool on) = 0;
    // The lines as the device reports them now; all empty unless Full.
    virtual ModemLines lines() = 0;
};
