#pragma once

#include <QString>
#include <exception>

// A failure of a component, a control or the file layer: a number and a German
// description. Handlers let it travel up; the two handlers that trap failures
// look at the number, everything else ends up in the error reporter.
class KavroError : public std::exception
{
public:
    KavroError(int number, QString description)
        : m_number(number), m_description(std::move(description))
    {
    }

    int number() const { return m_number; }
    const QString &description() const { return m_description; }
    // "Fehler 8002: Ungültige Portnummer" - the form the operator reads.
    QString text() const;
    const char *what() const noexcept override { return "KavroError"; }

private:
    int m_number;
    QString m_description;
};

namespace Err
{
// Every number the program raises; errorDescription() has the German text of each.
constexpr int Overflow = 6;          // a number outside the 16-bit range
constexpr int TypeMismatch = 13;     // a text that is not a number
constexpr int Internal = 51;         // a failure of the program itself
constexpr int BadFileNumber = 52;    // a file number that is not in use
constexpr int FileNotFound = 53;     // length or delete of a missing file
constexpr int FileAlreadyOpen = 55;  // open under a number already in use
constexpr int DeviceIo = 57;         // write to the medium failed
constexpr int DiskFull = 61;         // no room left on the medium
constexpr int PermissionDenied = 70; // file may not be deleted or created
constexpr int PathAccess = 75;       // path is a directory or otherwise unusable
constexpr int PathNotFound = 76;     // folder of the path does not exist
constexpr int InvalidValue = 380;    // a property value the component cannot use
constexpr int Cancelled = 32755;     // the operator cancelled the file dialog
constexpr int PortNotFound = 8002;   // no device for this port number
constexpr int PortInUse = 8005;      // another program holds the port
constexpr int PortNotOpen = 8012;    // operation needs an open port
constexpr int PortAccess = 8015;     // the system denies access to the device
constexpr int PortIo = 8020;         // reading or writing the device failed
constexpr int PortGone = 8021;       // the device disappeared while open
constexpr int PortOpenFailed = 8022; // the device could not be opened for another reason
} // namespace Err

// German description of a number.
QString errorDescription(int number);

// Throws the numbered failure with its standard description, or with a more
// precise one when given.
[[noreturn]] void raiseError(int number, const QString &detail = {});

// What a system error (errno) of a file operation means to the operator: the
// number of the failure and its German description.
struct FileFailure {
    int number;
    QString description;
};
FileFailure fileFailure(int err);

// The numbered failure for a system error (errno) of a file operation: what
// the operator reads when a capture file cannot be made or written.
[[noreturn]] void raiseFileError(int err);
// The same for opening the device of a port.
[[noreturn]] void raisePortError(int err, const QString &device);
