#pragma once

#include <QString>
#include <QStringView>

#include <optional>

// A port on a serial server, as a com<n> link names it instead of a device:
// "rfc2217://HOST:PORT" (telnet with the COM-PORT-OPTION, which carries the
// line settings to the far port) or "tcp://HOST:PORT" (bytes only). HOST is
// an IPv4 address, an IPv6 address in brackets or a host name.
struct NetworkAddress {
    enum class Scheme { Rfc2217, RawTcp };

    Scheme scheme = Scheme::Rfc2217;
    QString host; // without the brackets of an IPv6 address
    quint16 port = 0;

    // Whether a link text is meant as a network address at all ("name://…"),
    // usable or not; a device path never looks like this.
    static bool looksLike(QStringView text);
    // The address, or nothing for a text that is no usable one (an unknown
    // scheme, a port outside 1 to 65535, a malformed host, anything after the
    // port).
    static std::optional<NetworkAddress> parse(QStringView text);

    // The address written out again, as parse() takes it.
    QString text() const;

    friend bool operator==(const NetworkAddress &, const NetworkAddress &) = default;
};
