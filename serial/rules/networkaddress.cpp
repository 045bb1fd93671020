#include "networkaddress.h"

#include <arpa/inet.h>

namespace
{

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

bool isLetter(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

// A host name after RFC 1123: dot-separated labels of letters, digits and
// hyphens, none empty, longer than 63 or starting or ending with a hyphen.
// A name made of digits and dots only would be read as an IPv4 address by
// the resolver, so it must be one.
bool validHostName(QStringView name)
{
    if (name.isEmpty() || name.size() > 253)
        return false;
    bool onlyDigits = true;
    for (QStringView label : name.tokenize(u'.')) {
        if (label.isEmpty() || label.size() > 63 || label.front() == u'-' || label.back() == u'-')
            return false;
        for (QChar c : label) {
            if (!isLetter(c) && !isDigit(c) && c != u'-')
                return false;
            onlyDigits = onlyDigits && isDigit(c);
        }
    }
    if (name.endsWith(u'.') || name.startsWith(u'.'))
        return false;
    if (onlyDigits) {
        in_addr v4{};
        return ::inet_pton(AF_INET, name.toLatin1().constData(), &v4) == 1;
    }
    return true;
}

bool validIpv6(QStringView text)
{
    // The resolver reads up to a NUL: "::1<NUL>junk" is no address.
    if (text.contains(QChar(0)))
        return false;
    in6_addr v6{};
    return ::inet_pton(AF_INET6, text.toLatin1().constData(), &v6) == 1;
}

} // namespace

bool NetworkAddress::looksLike(QStringView text)
{
    const qsizetype colon = text.indexOf(u"://");
    if (colon <= 0)
        return false;
    for (QChar c : text.first(colon))
        if (!isLetter(c) && !isDigit(c) && c != u'+' && c != u'-' && c != u'.')
            return false;
    return isLetter(text.front());
}

std::optional<NetworkAddress> NetworkAddress::parse(QStringView text)
{
    if (!looksLike(text))
        return std::nullopt;
    const qsizetype colon = text.indexOf(u"://");
    NetworkAddress address;
    // Schemes are case-insensitive in URLs; RFC2217:// is the same as rfc2217://.
    const QStringView scheme = text.first(colon);
    if (scheme.compare(u"rfc2217", Qt::CaseInsensitive) == 0)
        address.scheme = Scheme::Rfc2217;
    else if (scheme.compare(u"tcp", Qt::CaseInsensitive) == 0)
        address.scheme = Scheme::RawTcp;
    else
        return std::nullopt;

    const QStringView rest = text.sliced(colon + 3);
    QStringView host;
    QStringView port;
    if (rest.startsWith(u'[')) {
        const qsizetype close = rest.indexOf(u']');
        if (close < 0 || close + 1 >= rest.size() || rest[close + 1] != u':')
            return std::nullopt;
        host = rest.sliced(1, close - 1);
        port = rest.sliced(close + 2);
        if (!validIpv6(host))
            return std::nullopt;
    } else {
        const qsizetype sep = rest.lastIndexOf(u':');
        if (sep < 0)
            return std::nullopt;
        host = rest.first(sep);
        port = rest.sliced(sep + 1);
        if (!validHostName(host))
            return std::nullopt;
    }
    // Digits only: no sign, no blank, no path after the port.
    if (port.isEmpty() || port.size() > 5)
        return std::nullopt;
    for (QChar c : port)
        if (!isDigit(c))
            return std::nullopt;
    const int number = port.toInt();
    if (number < 1 || number > 65535)
        return std::nullopt;
    address.host = host.toString();
    address.port = quint16(number);
    return address;
}

QString NetworkAddress::text() const
{
    const QString h = host.contains(u':') ? u'[' + host + u']' : host;
    return QStringLiteral("%1://%2:%3")
        .arg(scheme == Scheme::Rfc2217 ? QStringLiteral("rfc2217") : QStringLiteral("tcp"), h)
        .arg(port);
}
