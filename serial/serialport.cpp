#include "serialport.h"

#include <limits>

qint16 SerialPort::countWaiting()
{
    qint64 n = unread();
    if (m_lineMayHoldMore) {
        const qint64 more = lineHolds();
        if (more == 0)
            m_lineMayHoldMore = false;
        n += more;
    }
    return qint16(std::min<qint64>(n, std::numeric_limits<qint16>::max()));
}

QByteArrayView SerialPort::nextPiece()
{
    takeFromLine();
    if (m_next < m_piece.size())
        return QByteArrayView(m_piece.constData() + m_next++, 1);
    return {};
}

void SerialPort::takePiece(const QByteArray &piece)
{
    if (piece.isEmpty())
        return;
    // A piece used up is simply replaced: no copy.
    m_piece = m_next == m_piece.size() ? piece : m_piece.sliced(m_next) + piece;
    m_next = 0;
    Q_EMIT pieceTaken(piece);
}

void SerialPort::clearInput()
{
    m_piece.clear();
    m_next = 0;
}
