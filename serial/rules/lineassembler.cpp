#include "lineassembler.h"

#include <algorithm>

void LineAssembler::reset()
{
    emptySlots();
    m_recvLineIdx = 1;
    m_lineEnds.reset();
}

void LineAssembler::clear()
{
    emptySlots();
    m_recvLineIdx = 1;
}

void LineAssembler::emptySlots()
{
    m_runLength = 0;
    for (size_t i = 1; i <= 10; ++i)
        m_recvLines[i].clear();
    m_scrolledOut.clear();
    m_scrollPending = false;
}

void LineAssembler::endRun() const
{
    if (m_runLength == 0)
        return;
    const qsizetype n = m_runLength;
    m_runLength = 0;
    appendText(QByteArrayView(m_run.data(), n));
}

bool LineAssembler::feedUnit(QByteArrayView unit)
{
    endRun();
    if (unit.isEmpty())
        return false; // the port never hands out an empty unit; nothing to fold in

    bool refreshed = false;
    switch (m_lineEnds.take(unit.front())) {
    case LineEnds::End: // the rest of a line-end unit goes with it
        m_recvLines.at(size_t(m_recvLineIdx)).append("\r\n", 2);
        refreshed = true;
        ++m_recvLineIdx;
        break;
    case LineEnds::Swallowed:
        break;
    case LineEnds::Text:
        appendText(unit);
        refreshed = true;
        break;
    }

    if (refreshed)
        m_scrollPending = false;
    if (m_recvLineIdx == 11)
        scroll();
    return refreshed;
}

void LineAssembler::appendText(QByteArrayView text) const
{
    QByteArray &line = m_recvLines.at(size_t(m_recvLineIdx));
    // A new line starts with room for a typical one, instead of growing
    // from nothing a few bytes at a time.
    if (line.capacity() == 0)
        line.reserve(256);
    line.append(text);
    // As if added one character at a time: every time the slot grew past
    // MaxLine it fell back to its KeepNewest newest characters.
    if (line.size() > MaxLine) {
        const qsizetype keep =
            KeepNewest + (line.size() - MaxLine - 1) % (MaxLine + 1 - KeepNewest);
        line.remove(0, line.size() - keep);
    }
}

void LineAssembler::scroll()
{
    endRun();
    // Moved, not copied: a flood of lines scrolls with every line.
    m_scrolledOut = std::move(m_recvLines[1]);
    m_scrollPending = true;
    std::move(m_recvLines.begin() + 2, m_recvLines.end(), m_recvLines.begin() + 1);
    m_recvLines[10] = QByteArray();
    m_recvLineIdx = 10;
}

QList<QByteArray> LineAssembler::shownLines() const
{
    endRun();
    QList<QByteArray> lines;
    lines.reserve(11);
    if (m_scrollPending)
        lines.append(m_scrolledOut);
    for (size_t i = 1; i <= 10; ++i) {
        if (!m_recvLines[i].isEmpty())
            lines.append(m_recvLines[i]);
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
