#include "receivelayout.h"

#include "bytenames.h"
#include "codepage.h"

#include <algorithm>
#include <utility>

namespace
{

// The lines without their CR LF: the rows of the box start at these. A text
// that ends with CR LF has an empty last block, where the next line appears.
QList<QByteArray> blocksOf(const QList<QByteArray> &lines)
{
    QList<QByteArray> blocks;
    blocks.reserve(lines.size() + 1);
    QByteArray pending;
    for (const QByteArray &line : lines) {
        qsizetype from = 0;
        for (;;) {
            const qsizetype at = line.indexOf("\r\n", from);
            if (at < 0)
                break;
            if (from == 0 && pending.isEmpty()) {
                blocks.append(line.first(at));
            } else {
                pending += QByteArrayView(line).sliced(from, at - from);
                blocks.append(std::exchange(pending, {}));
            }
            from = at + 2;
        }
        pending += QByteArrayView(line).sliced(from);
    }
    blocks.append(pending);
    return blocks;
}

} // namespace

ReceiveLayout::ReceiveLayout(const std::array<qreal, 256> &cellWidths) : m_widths(cellWidths)
{
}

void ReceiveLayout::setLines(const QList<QByteArray> &lines)
{
    QList<QByteArray> blocks = blocksOf(lines);
    // The selection stays on its text while old lines leave at the top: find
    // how many blocks left, every later complete block unchanged.
    const Pos end{blocks.size() - 1, blocks.last().size()};
    if (hasSelection()) {
        qsizetype drop = -1;
        for (qsizetype d = 0; d < m_blocks.size() && drop < 0; ++d) {
            const qsizetype rest = m_blocks.size() - d;
            bool same = rest <= blocks.size();
            for (qsizetype i = 0; same && i < rest - 1; ++i)
                same = m_blocks[d + i] == blocks[i];
            if (same)
                drop = d;
        }
        m_anchor.block -= drop < 0 ? m_blocks.size() : drop;
        m_cursor.block -= drop < 0 ? m_blocks.size() : drop;
        if (m_anchor.block < 0 || m_cursor.block < 0)
            m_anchor = m_cursor = end;
    } else {
        m_anchor = m_cursor = end;
    }
    m_blocks = std::move(blocks);
    m_wrappedAt = -1;
    decodeBlocks();
}

void ReceiveLayout::decode(const std::optional<DecodeOptions> &options, UnitWidth width)
{
    m_decoding = options;
    m_unitWidth = std::move(width);
    m_wrappedAt = -1;
    decodeBlocks();
}

void ReceiveLayout::decodeBlocks()
{
    m_units.assign(size_t(m_blocks.size()), {});
    if (!m_decoding)
        return;
    TextStyle style;
    std::vector<Cell> cells;
    for (qsizetype b = 0; b < m_blocks.size(); ++b) {
        cells.clear();
        decodeLine(m_blocks[b], *m_decoding, style, cells);
        std::vector<Unit> &units = m_units[size_t(b)];
        units.reserve(cells.size());
        for (const Cell &cell : cells)
            units.push_back({cell, cell.kind == Cell::Hidden ? 0.0 : m_unitWidth(cell)});
    }
}

qsizetype ReceiveLayout::unitAt(qsizetype block, qsizetype at) const
{
    const std::vector<Unit> &units = m_units[size_t(block)];
    const auto it = std::lower_bound(units.cbegin(), units.cend(), at,
                                     [](const Unit &u, qsizetype a) { return u.cell.begin < a; });
    return it - units.cbegin();
}

qreal ReceiveLayout::widthOf(qsizetype block, qsizetype from, qsizetype to) const
{
    qreal x = 0;
    if (m_decoding) {
        const std::vector<Unit> &units = m_units[size_t(block)];
        for (qsizetype u = unitAt(block, from);
             u < qsizetype(units.size()) && units[size_t(u)].cell.begin < to; ++u)
            x += units[size_t(u)].width;
        return x;
    }
    const QByteArray &bytes = m_blocks[block];
    for (qsizetype i = from; i < to; ++i)
        x += m_widths[uchar(bytes[i])];
    return x;
}

bool ReceiveLayout::wrap(qreal width)
{
    if (width == m_wrappedAt)
        return false;
    m_wrappedAt = width;
    m_rows.clear();
    for (qsizetype b = 0; b < m_blocks.size(); ++b) {
        const QByteArray &block = m_blocks[b];
        qsizetype begin = 0;
        qreal x = 0;
        // Wrap anywhere between cells, but never leave a row empty.
        const auto cell = [&](qsizetype at, qreal w) {
            if (x + w > width && at > begin) {
                m_rows.push_back({b, begin, at});
                begin = at;
                x = 0;
            }
            x += w;
        };
        if (m_decoding) {
            for (const Unit &unit : m_units[size_t(b)])
                if (unit.width > 0)
                    cell(unit.cell.begin, unit.width);
        } else {
            const auto *bytes = reinterpret_cast<const uchar *>(block.constData());
            for (qsizetype i = 0; i < block.size(); ++i)
                cell(i, m_widths[bytes[i]]);
        }
        m_rows.push_back({b, begin, block.size()});
    }
    return true;
}

QByteArrayView ReceiveLayout::rowBytes(const Row &row) const
{
    return QByteArrayView(m_blocks[row.block]).sliced(row.begin, row.end - row.begin);
}

qsizetype ReceiveLayout::rowOf(const Pos &pos) const
{
    // Rows are few (a screenful and a bit): a walk from the end is enough.
    for (qsizetype r = qsizetype(m_rows.size()) - 1; r >= 0; --r) {
        const Row &row = m_rows[size_t(r)];
        if (row.block == pos.block && row.begin <= pos.at)
            return r;
    }
    return 0;
}

qreal ReceiveLayout::xOf(const Row &row, qsizetype at) const
{
    return widthOf(row.block, row.begin, std::min(at, row.end));
}

ReceiveLayout::Pos ReceiveLayout::hit(qsizetype row, qreal x) const
{
    if (m_rows.empty())
        return {};
    const Row &r = m_rows[size_t(std::clamp<qsizetype>(row, 0, qsizetype(m_rows.size()) - 1))];
    qreal left = 0;
    if (m_decoding) {
        const std::vector<Unit> &units = m_units[size_t(r.block)];
        for (qsizetype u = unitAt(r.block, r.begin);
             u < qsizetype(units.size()) && units[size_t(u)].cell.begin < r.end; ++u) {
            const Unit &unit = units[size_t(u)];
            if (unit.width > 0 && x < left + unit.width / 2)
                return {r.block, unit.cell.begin};
            left += unit.width;
        }
        return {r.block, r.end};
    }
    const QByteArray &block = m_blocks[r.block];
    for (qsizetype i = r.begin; i < r.end; ++i) {
        const qreal w = m_widths[uchar(block[i])];
        if (x < left + w / 2)
            return {r.block, i};
        left += w;
    }
    // Past the end of a wrapped row: before the first byte of the next one.
    return {r.block, r.end};
}

void ReceiveLayout::moveTo(const Pos &to, bool keepAnchor)
{
    m_cursor = to;
    if (!keepAnchor)
        m_anchor = to;
}

void ReceiveLayout::selectAll()
{
    m_anchor = {};
    m_cursor = end();
}

bool ReceiveLayout::inWord(qsizetype block, qsizetype at, const std::array<bool, 256> &boxed) const
{
    if (m_decoding) {
        const std::vector<Unit> &units = m_units[size_t(block)];
        const qsizetype u = unitAt(block, at);
        return u < qsizetype(units.size()) && units[size_t(u)].cell.begin == at &&
               units[size_t(u)].cell.kind == Cell::Char && units[size_t(u)].cell.code != ' ';
    }
    const char c = m_blocks[block][at];
    return c != ' ' && !boxed[uchar(c)];
}

void ReceiveLayout::selectWord(const Pos &at, const std::array<bool, 256> &boxed)
{
    qsizetype begin = at.at, end = at.at;
    while (begin > 0 && inWord(at.block, before({at.block, begin}).at, boxed))
        begin = before({at.block, begin}).at;
    while (end < m_blocks[at.block].size() && inWord(at.block, end, boxed))
        end = after({at.block, end}).at;
    m_anchor = {at.block, begin};
    m_cursor = {at.block, end};
}

bool ReceiveLayout::selected(const Pos &pos) const
{
    return std::min(m_anchor, m_cursor) <= pos && pos < std::max(m_anchor, m_cursor);
}

bool ReceiveLayout::breakSelected(const Row &row) const
{
    return row.end == m_blocks[row.block].size() && selected({row.block, row.end});
}

QString ReceiveLayout::selectedText() const
{
    const Pos from = std::min(m_anchor, m_cursor);
    const Pos to = std::max(m_anchor, m_cursor);
    QString text;
    for (qsizetype b = from.block; b <= to.block && b < m_blocks.size(); ++b) {
        const QByteArray &block = m_blocks[b];
        const qsizetype begin = b == from.block ? from.at : 0;
        const qsizetype end = b == to.block ? to.at : block.size();
        if (m_decoding) {
            const std::vector<Unit> &units = m_units[size_t(b)];
            for (qsizetype u = unitAt(b, begin);
                 u < qsizetype(units.size()) && units[size_t(u)].cell.begin < end; ++u)
                appendCopyText(units[size_t(u)].cell, text);
            if (b != to.block)
                text += QLatin1Char('\n');
            continue;
        }
        for (qsizetype i = begin; i < end; ++i) {
            const uchar byte = uchar(block[i]);
            const ShownByte shown = shownAs(byte);
            if (byte == '\t')
                text += QLatin1Char('\t');
            else if (shown.boxed && byte != 0xa0 && byte != 0xad)
                text += QLatin1Char('<') + shown.text + QLatin1Char('>');
            else
                text += charFromByte(byte);
        }
        if (b != to.block)
            text += QLatin1Char('\n');
    }
    return text;
}

ReceiveLayout::Pos ReceiveLayout::before(const Pos &pos) const
{
    if (pos.at > 0) {
        if (!m_decoding)
            return {pos.block, pos.at - 1};
        const std::vector<Unit> &units = m_units[size_t(pos.block)];
        qsizetype u = unitAt(pos.block, pos.at);
        while (u > 0 && units[size_t(u - 1)].width <= 0)
            --u; // hidden cells take no place of their own
        return {pos.block, u > 0 ? units[size_t(u - 1)].cell.begin : 0};
    }
    if (pos.block > 0)
        return {pos.block - 1, m_blocks[pos.block - 1].size()};
    return pos;
}

ReceiveLayout::Pos ReceiveLayout::after(const Pos &pos) const
{
    if (pos.at < m_blocks[pos.block].size()) {
        if (!m_decoding)
            return {pos.block, pos.at + 1};
        const std::vector<Unit> &units = m_units[size_t(pos.block)];
        qsizetype u = unitAt(pos.block, pos.at);
        if (u < qsizetype(units.size()) && units[size_t(u)].cell.begin == pos.at)
            ++u;
        while (u < qsizetype(units.size()) && units[size_t(u)].width <= 0)
            ++u;
        return {pos.block, u < qsizetype(units.size()) ? units[size_t(u)].cell.begin
                                                       : m_blocks[pos.block].size()};
    }
    if (pos.block + 1 < m_blocks.size())
        return {pos.block + 1, 0};
    return pos;
}

QString ReceiveLayout::spokenText() const
{
    QString text;
    for (qsizetype b = 0; b < m_blocks.size(); ++b) {
        if (b > 0)
            text += QLatin1Char('\n');
        for (const char c : m_blocks[b]) {
            const uchar byte = uchar(c);
            // U+2400 to U+241F picture the control bytes, U+2421 DEL.
            if (byte < 0x20)
                text += QChar(0x2400 + byte);
            else if (byte == 0x7f)
                text += QChar(0x2421);
            else
                text += charFromByte(byte);
        }
    }
    return text;
}

qsizetype ReceiveLayout::offsetOf(const Pos &pos) const
{
    qsizetype offset = 0;
    for (qsizetype b = 0; b < pos.block && b < m_blocks.size(); ++b)
        offset += m_blocks[b].size() + 1;
    return offset + pos.at;
}

ReceiveLayout::Pos ReceiveLayout::posAt(qsizetype offset) const
{
    for (qsizetype b = 0; b < m_blocks.size(); ++b) {
        if (offset <= m_blocks[b].size())
            return {b, std::max<qsizetype>(offset, 0)};
        offset -= m_blocks[b].size() + 1;
    }
    return end();
}
