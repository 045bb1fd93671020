#include "lineassembler.h"

namespace {
constexpr char CR = 13;
constexpr char LF = 10;
} // namespace

void LineAssembler::clearSlots()
{
    for (int i = 1; i <= 10; ++i)
        RecvLines[i].clear();
    m_scrolledOut.clear();
    m_scrollPending = false;
}

bool LineAssembler::feed(QByteArrayView unit)
{
    if (unit.isEmpty())
        return false; // the port never hands out an empty unit; nothing to fold in

    bool refreshed = false;
    const char first = unit.front();
    if (first == CR || first == LF) {
        if (!LineEndSeen) {
            LineEndSeen = true;
            RecvLines.at(RecvLineIdx).append("\r\n", 2);
            refreshed = true;
            ++RecvLineIdx;
        } else {
            // The second half of a line-end pair: swallowed, and the rule is
            // armed again.
            LineEndSeen = false;
        }
    } else {
        appendText(unit);
        refreshed = true;
        LineEndSeen = false;
    }

    if (refreshed)
        m_scrollPending = false;
    if (RecvLineIdx == 11)
        scroll();
    return refreshed;
}

void LineAssembler::appendText(QByteArrayView text)
{
    QByteArray &line = RecvLines.at(RecvLineIdx);
    // A new line starts with room for a typical one, instead of growing
    // from nothing a few bytes at a time.
    if (line.capacity() == 0)
        line.reserve(256);
    // append(char) is half the cost of append(QByteArrayView) for one byte.
    if (text.size() == 1)
        line.append(text.front());
    else
        line.append(text);
    if (line.size() > MaxLine)
        line.remove(0, line.size() - KeepNewest);
}

void LineAssembler::scroll()
{
    m_scrolledOut = RecvLines[1];
    m_scrollPending = true;
    for (int i = 1; i <= 9; ++i)
        RecvLines[i] = RecvLines[i + 1];
    RecvLines[10].clear();
    RecvLineIdx = 10;
}

QList<QByteArray> LineAssembler::shownLines() const
{
    QList<QByteArray> lines;
    lines.reserve(11);
    if (m_scrollPending)
        lines.append(m_scrolledOut);
    for (int i = 1; i <= 10; ++i) {
        if (!RecvLines[i].isEmpty())
            lines.append(RecvLines[i]);
    }
    return lines;
}

QByteArray LineAssembler::shownText() const
{
    QByteArray text;
    const QList<QByteArray> lines = shownLines();
    for (const QByteArray &line : lines)
        text += line;
    return text;
}
