#include "modemlines.h"

#include "kavroerror.h"

QString lineRefusal(LineAccess access)
{
    switch (access) {
    case LineAccess::Full:
        break;
    case LineAccess::NoControlLines:
        return QStringLiteral(
            "Ein tcp://-Anschluss überträgt nur Bytes und hat keine Steuerleitungen.");
    case LineAccess::Away:
        return QStringLiteral("Das Gerät des Anschlusses ist nicht da; Kavro wartet darauf.");
    case LineAccess::Closed:
        return QStringLiteral("Der Anschluss ist nicht geöffnet.");
    }
    return {};
}

void checkLineAccess(LineAccess access)
{
    switch (access) {
    case LineAccess::Full:
        return;
    case LineAccess::NoControlLines:
        raiseError(Err::InvalidValue, lineRefusal(access));
    case LineAccess::Away:
        raiseError(Err::PortGone, lineRefusal(access));
    case LineAccess::Closed:
        raiseError(Err::PortNotOpen, lineRefusal(access));
    }
}
