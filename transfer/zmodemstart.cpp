#include "zmodemstart.h"

#include <algorithm>

namespace
{
// ZPAD ZPAD ZDLE ZHEX, then the frame type ZRQINIT in hex.
constexpr char Header[] = {'*', '*', '\x18', 'B', '0', '0'};
constexpr qsizetype HeaderSize = sizeof Header;
} // namespace

bool ZmodemStart::feed(QByteArrayView piece)
{
    const QByteArrayView header(Header, HeaderSize);
    // Only the tail of the last piece that could begin the header is kept,
    // so a long stream costs one search of each piece.
    QByteArray joined = m_tail;
    joined.append(piece.first(std::min(piece.size(), HeaderSize - 1)));
    const bool across = joined.contains(header);
    const bool inside = piece.contains(header);
    QByteArray tail = m_tail + piece.last(std::min(piece.size(), HeaderSize - 1)).toByteArray();
    m_tail = tail.right(HeaderSize - 1);
    if (across || inside) {
        m_tail.clear();
        return true;
    }
    return false;
}
