#include "kavroerror.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

QString KavroError::text() const
{
    return QStringLiteral("Fehler %1: %2").arg(m_number).arg(m_description);
}

QString errorDescription(int number)
{
    switch (number) {
    case Err::Overflow:
        return QStringLiteral("Überlauf");
    case Err::TypeMismatch:
        return QStringLiteral("Typen unverträglich");
    case Err::Internal:
        return QStringLiteral("Interner Fehler");
    case Err::BadFileNumber:
        return QStringLiteral("Dateiname oder -nummer falsch");
    case Err::FileNotFound:
        return QStringLiteral("Datei nicht gefunden");
    case Err::FileAlreadyOpen:
        return QStringLiteral("Datei bereits geöffnet");
    case Err::DeviceIo:
        return QStringLiteral("Geräte-E/A-Fehler");
    case Err::DiskFull:
        return QStringLiteral("Datenträger voll");
    case Err::PermissionDenied:
        return QStringLiteral("Zugriff verweigert");
    case Err::PathAccess:
        return QStringLiteral("Fehler beim Zugriff auf Pfad/Datei");
    case Err::PathNotFound:
        return QStringLiteral("Pfad nicht gefunden");
    case Err::InvalidValue:
        return QStringLiteral("Ungültiger Eigenschaftswert");
    case Err::Cancelled:
        return QStringLiteral("Abbrechen gewählt");
    case Err::PortNotFound:
        return QStringLiteral("Ungültige Portnummer");
    case Err::PortInUse:
        return QStringLiteral("Anschluss bereits geöffnet");
    case Err::PortNotOpen:
        return QStringLiteral("Vorgang nur bei geöffnetem Anschluss möglich");
    case Err::PortAccess:
        return QStringLiteral("Zugriff auf den Anschluss verweigert");
    case Err::PortIo:
        return QStringLiteral("Lese- oder Schreibfehler am Anschluss");
    case Err::PortGone:
        return QStringLiteral("Das Gerät des Anschlusses ist nicht mehr vorhanden");
    case Err::PortOpenFailed:
        return QStringLiteral("Der Anschluss kann nicht geöffnet werden");
    }
    return QStringLiteral("Unbekannter Fehler");
}

void raiseError(int number, const QString &detail)
{
    throw KavroError(number, detail.isEmpty() ? errorDescription(number) : detail);
}

FileFailure fileFailure(int err)
{
    switch (err) {
    case ENOENT:
    case ENOTDIR:
        return {Err::PathNotFound, errorDescription(Err::PathNotFound)};
    case EACCES:
    case EPERM:
    case ETXTBSY:
        return {Err::PermissionDenied, errorDescription(Err::PermissionDenied)};
    case EROFS:
        return {Err::PermissionDenied, QStringLiteral("Der Datenträger ist schreibgeschützt")};
    case ENOSPC:
        return {Err::DiskFull, QStringLiteral("Auf dem Datenträger ist kein Platz mehr frei")};
    case EDQUOT:
        return {Err::DiskFull, QStringLiteral("Das Speicherkontingent ist erschöpft")};
    case EFBIG:
        return {Err::DiskFull,
                QStringLiteral("Die Datei hat die größte erlaubte Dateigröße erreicht")};
    case EIO:
    case ENXIO:
    case ENODEV:
        return {Err::DeviceIo, QStringLiteral("Ein-/Ausgabefehler des Datenträgers")};
    default:
        return {
            Err::PathAccess,
            QStringLiteral("%1 (Systemfehler %2)").arg(errorDescription(Err::PathAccess)).arg(err)};
    }
}

void raiseFileError(int err)
{
    FileFailure failure = fileFailure(err);
    throw KavroError(failure.number, std::move(failure.description));
}

void raisePortError(int err, const QString &device)
{
    switch (err) {
    case EBUSY:
        raiseError(Err::PortInUse,
                   QStringLiteral("Anschluss bereits geöffnet: %1 gehört einem anderen Programm")
                       .arg(device));
    case ENOENT:
    case ENODEV:
    case ENXIO:
        raiseError(Err::PortNotFound,
                   QStringLiteral("Ungültige Portnummer: Gerät %1 nicht vorhanden").arg(device));
    case EACCES:
    case EPERM: {
        // Serial devices belong to a group (dialout on Debian) whose members
        // may use them: the most common first obstacle, so it is named.
        QString hint;
        struct stat st {
        };
        if (::stat(QFile::encodeName(device).constData(), &st) == 0) {
            if (const group *g = ::getgrgid(st.st_gid))
                hint = QStringLiteral(". Das Gerät gehört der Gruppe „%1“: Ihr Benutzer muss ihr "
                                      "angehören (sudo adduser $USER %1, danach neu anmelden)")
                           .arg(QString::fromLocal8Bit(g->gr_name));
        }
        raiseError(Err::PortAccess,
                   QStringLiteral("Zugriff auf den Anschluss %1 verweigert%2").arg(device, hint));
    }
    default:
        raiseError(Err::PortOpenFailed,
                   QStringLiteral("Der Anschluss %1 kann nicht geöffnet werden (%2)")
                       .arg(device, QString::fromLocal8Bit(std::strerror(err))));
    }
}
