#pragma once

#include <QByteArray>
#include <QByteArrayView>

// Watches what arrives for the header a ZMODEM sender opens with (`**`,
// ZDLE, `B00`, as `sz` on a board sends it after printing "rz"), also when
// it is cut across pieces. No timer, no port: fed piece by piece.
class ZmodemStart
{
public:
    // True when the header ends inside this piece.
    bool feed(QByteArrayView piece);
    void reset() { m_tail.clear(); }

private:
    QByteArray m_tail;
};
