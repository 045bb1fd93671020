#include "kavroerror.h"

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
