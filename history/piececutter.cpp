#include "piececutter.h"

#include "historyline.h"
#include "sequences.h"

#include <algorithm>
#include <cstring>
#include <utility>

void PieceCutter::begin(qint64 pos, quint8 flags, Owner &owner)
{
    m_open = Piece{pos, 0, flags};
    m_recentCount = 0;
    owner.pieceBegun(*m_open);
}

void PieceCutter::finish(Owner &owner)
{
    owner.pieceEnded(*m_open);
    m_open.reset();
}

void PieceCutter::interrupt(bool goesOn, Owner &owner)
{
    const bool interrupted = m_open.has_value();
    if (interrupted)
        finish(owner);
    // Two notes in a row (a command's name, then the command) leave the
    // line going on as the first found it.
    m_continueNext = goesOn && (interrupted || m_continueNext);
}

void PieceCutter::drop()
{
    m_open.reset();
    m_continueNext = false;
}

void PieceCutter::remember(const char *p, qsizetype n)
{
    const int size = int(m_recent.size());
    if (n >= size) {
        std::memcpy(m_recent.data(), p + n - size, size_t(size));
        m_recentCount = size;
        return;
    }
    const int keep = std::min(m_recentCount, size - int(n));
    std::memmove(m_recent.data(), m_recent.data() + m_recentCount - keep, size_t(keep));
    std::memcpy(m_recent.data() + keep, p, size_t(n));
    m_recentCount = keep + int(n);
}

void PieceCutter::cut(uchar next, Owner &owner)
{
    // The piece is full and the line goes on. Bytes at its end that begin a
    // character or an escape sequence the next byte belongs to move on with
    // it, so that each piece shows whole characters and sequences.
    const int count = m_recentCount;
    qint64 moved = unfinishedTail(QByteArrayView(m_recent.data(), count), next);
    if (moved >= m_open->length)
        moved = 0;
    const Piece full = *m_open;
    m_open->length -= moved;
    finish(owner);
    begin(full.pos + full.length - moved, HistoryLine::Continued, owner);
    m_open->length = moved;
    std::memmove(m_recent.data(), m_recent.data() + count - moved, size_t(moved));
    m_recentCount = int(moved);
}

void PieceCutter::feed(const char *p, qsizetype n, qint64 base, Owner &owner)
{
    LineEndFinder ends(p, n);
    qsizetype i = 0;
    qsizetype pieceFrom = 0; // where the growing piece's bytes in this event begin
    while (i < n) {
        // Lines end as in the receive box; a run of text is taken whole.
        const LineEnds::Role role = m_lineEnds.take(p[i]);
        if (role == LineEnds::Swallowed) {
            ++i;
            continue;
        }
        if (role == LineEnds::End) {
            if (m_open)
                finish(owner);
            else if (!std::exchange(m_continueNext, false)) // an empty line
                begin(base + i, 0, owner), finish(owner);
            ++i;
            continue;
        }
        const qsizetype stop = ends.next(i);
        while (i < stop) {
            if (!m_open) {
                begin(base + i, std::exchange(m_continueNext, false) ? HistoryLine::Continued : 0,
                      owner);
                pieceFrom = i;
            }
            if (m_open->length >= m_pieceLength) {
                remember(p + pieceFrom, i - pieceFrom);
                cut(uchar(p[i]), owner);
                pieceFrom = i;
                continue;
            }
            const qsizetype take = std::min<qsizetype>(stop - i, m_pieceLength - m_open->length);
            m_open->length += take;
            i += take;
        }
    }
    if (m_open)
        remember(p + pieceFrom, n - pieceFrom);
}
