#include "historyspoken.h"

#include <algorithm>

SpokenRows::SpokenRows(const HistoryLayout &layout)
{
    std::vector<Char> chars;
    const std::vector<HistoryRow> &rows = layout.rows();
    for (size_t r = 0; r < rows.size(); ++r) {
        if (r > 0) {
            // The line break stands where the row before ends.
            const HistoryRow &before = rows[r - 1];
            const Place end = layout.choices().hex ? Place{0, before.pos + before.bytes.size()}
                                                   : Place{before.line.number, before.bytes.size()};
            const int x =
                m_chars.empty() ? layout.metrics().margin : m_chars.back().x + m_chars.back().width;
            m_text += QLatin1Char('\n');
            m_chars.push_back({end, x, 1, r - 1, true});
        }
        m_text += rowText(layout, rows[r], &chars);
        for (Char &c : chars)
            c.row = r;
        m_chars.insert(m_chars.end(), chars.begin(), chars.end());
    }
}

int SpokenRows::offsetOf(const Place &place) const
{
    const auto it = std::find_if(m_chars.begin(), m_chars.end(),
                                 [&place](const Char &c) { return c.own && c.place >= place; });
    return int(it - m_chars.begin());
}

int SpokenRows::offsetAt(size_t row, int x) const
{
    int end = 0;
    for (size_t i = 0; i < m_chars.size(); ++i) {
        if (m_chars[i].row != row)
            continue;
        if (x < m_chars[i].x + m_chars[i].width)
            return int(i);
        end = int(i) + 1;
    }
    return end;
}

std::optional<SpokenRows::Place> SpokenRows::placeOf(int offset) const
{
    if (m_chars.empty())
        return std::nullopt;
    return m_chars[size_t(std::clamp<qsizetype>(offset, 0, qsizetype(m_chars.size()) - 1))].place;
}

QString SpokenRows::rowText(const HistoryLayout &layout, const HistoryRow &row,
                            std::vector<Char> *chars)
{
    const int column = layout.metrics().column;
    const int margin = layout.metrics().margin;
    if (layout.choices().hex) {
        const QString text =
            HistoryRows::hexRow(row, layout.offsetDigits(), layout.choices().times);
        if (!chars)
            return text;
        // Every character in a column of its own: the place of the byte in
        // whose hex digits or character it stands.
        chars->clear();
        const qint64 rowStart = row.pos - row.pos % HexRowBytes;
        for (int i = 0; i < text.size(); ++i) {
            const int x = margin + i * column;
            int byte = 0;
            if (x >= layout.charLeft(0))
                byte = std::min(HexRowBytes, (x - layout.charLeft(0)) / column);
            else
                for (int c = 0; c < HexRowBytes; ++c)
                    byte = x >= layout.hexLeft(c) ? c : byte;
            const qint64 at = std::clamp(rowStart + byte, row.pos, row.pos + row.bytes.size());
            chars->push_back({{0, at}, x, column, 0, x >= layout.hexLeft(0)});
        }
        return text;
    }
    std::vector<int> cellOf;
    const QString time = layout.choices().times ? row.time : QString();
    const QString text = HistoryRows::textRow(row, time, 0, HistoryRows::NoEnd, &cellOf);
    if (!chars)
        return text;
    chars->clear();
    const qsizetype prefix = text.size() - qsizetype(cellOf.size());
    const qint64 line = row.line.number;
    // The arrow before a command stands in the mark's column, a marker's
    // text where the text goes.
    const int noted =
        row.line.kind == HistoryLine::Sent ? layout.textLeft() - 2 * column : layout.textLeft();
    for (qsizetype i = 0; i < text.size(); ++i) {
        const int cell = i < prefix ? -1 : cellOf[size_t(i - prefix)];
        if (cell >= 0) {
            const size_t c = size_t(cell);
            const int x = layout.textLeft() + row.x[c];
            chars->push_back({{line, row.cells[c].begin}, x, row.x[c + 1] - row.x[c], 0, true});
        } else if (i < prefix) {
            chars->push_back({{line, 0}, margin + int(i) * column, column, 0, false});
        } else {
            const bool marker = row.line.kind == HistoryLine::Marker;
            chars->push_back({{line, 0}, noted + int(i - prefix) * column, column, 0, marker});
        }
    }
    return text;
}
