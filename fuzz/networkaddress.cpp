// The text of a com<n> link read as the address of a port on a serial
// server: an address read from any text is written out again as a text that
// reads back as the same address, and its host is one the resolver takes as
// it is.

#include "networkaddress.h"
#include "check.h"

#include <QString>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(bytes), qsizetype(size));
    const std::optional<NetworkAddress> address = NetworkAddress::parse(text);
    if (!address)
        return 0;
    FUZZ_CHECK(NetworkAddress::looksLike(text));
    FUZZ_CHECK(address->port > 0);
    FUZZ_CHECK(NetworkAddress::parse(address->text()) == address);
    for (const QChar c : address->host)
        FUZZ_CHECK(c.isLetterOrNumber() || c == u'-' || c == u'.' || c == u':');
    return 0;
}
