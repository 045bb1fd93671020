#pragma once

#include <QtGlobal>

// "Beim Öffnen": whether DTR and RTS are raised when a port number is opened
// (both, unless the operator said otherwise: many boards reset on a rising
// DTR, and some need it to stay low). Kept per port number in kavro.conf
// (KavroSettings), read anew each time, so it follows the file and the
// folder the environment names at that moment.
struct OpenLevels {
    bool dtr = true;
    bool rts = true;

    friend bool operator==(const OpenLevels &, const OpenLevels &) = default;

    static OpenLevels load(qint16 port);
    // Throws KavroError when the file cannot be written.
    static void save(qint16 port, const OpenLevels &levels);
};
