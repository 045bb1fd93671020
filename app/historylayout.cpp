#include "historylayout.h"

#include <algorithm>
#include <limits>

namespace
{

constexpr int StyleLookBack = 32;   // lines decoded before the first in sight, for its colours
constexpr int TimeColumns = 12 + 2; // "14:03:07.125" and two blanks
constexpr int MarkColumns = 2;      // the mark of a sent or continued line
constexpr int HexColumns = 3 * HexRowBytes + 2; // "30 " each, a blank after the eighth, one more

} // namespace

HistoryLayout::HistoryLayout(std::shared_ptr<const HistoryLog> log, Metrics metrics)
    : m_log(std::move(log)), m_metrics(std::move(metrics)), m_heldAt(m_log->endLine())
{
}

void HistoryLayout::setMetrics(Metrics metrics)
{
    m_metrics = std::move(metrics);
    m_keepRows = false;
    m_widest = 0;
    invalidate();
}

void HistoryLayout::setChoices(const Choices &choices)
{
    if (choices == m_choices)
        return;
    if (choices.hex != m_choices.hex) {
        if (!m_following) {
            if (choices.hex)
                m_top = m_log->line(m_top).pos / HexRowBytes;
            else
                m_top = std::max(m_log->beginLine(), m_log->lineAt(m_top * HexRowBytes));
        }
        m_selection.clear();
    }
    m_choices = choices;
    if (m_search) {
        SearchPattern pattern = m_search->pattern();
        pattern.decode = choices.decode;
        pattern.sentLines = choices.sent;
        m_search.emplace(m_log, pattern);
    }
    m_keepRows = false;
    m_widest = 0;
    invalidate();
}

void HistoryLayout::setRoom(int whole, int any)
{
    whole = std::max(1, whole);
    any = std::max(whole, any);
    if (whole == m_whole && any == m_any)
        return;
    m_whole = whole;
    m_any = any;
    invalidate();
}

qint64 HistoryLayout::arrivedWhileHeld() const
{
    return m_following ? 0 : std::max<qint64>(0, m_log->endLine() - m_heldAt);
}

void HistoryLayout::follow()
{
    m_following = true;
    invalidate();
}

void HistoryLayout::hold()
{
    if (!m_following)
        return;
    plan();
    m_following = false;
    m_heldAt = m_log->endLine();
    if (!m_rows.empty())
        m_top = keyOf(m_rows.front());
}

void HistoryLayout::toStart()
{
    hold();
    m_top = firstKey();
    invalidate();
}

qint64 HistoryLayout::firstKey() const
{
    return m_choices.hex ? m_log->receivedBegin() / HexRowBytes : m_log->beginLine();
}

qint64 HistoryLayout::keyOf(const HistoryRow &row) const
{
    return m_choices.hex ? row.pos / HexRowBytes : row.line.number;
}

int HistoryLayout::scrollMaximum() const
{
    const qint64 end =
        m_choices.hex ? (m_log->receivedEnd() + HexRowBytes - 1) / HexRowBytes : m_log->endLine();
    return int(std::clamp<qint64>(end - firstKey() - m_whole, 0, INT_MAX));
}

int HistoryLayout::settledScroll()
{
    const qint64 first = firstKey();
    const int maximum = scrollMaximum();
    if (m_following)
        return maximum;
    // Lines went from under the place in sight, or it lies past the end.
    const qint64 top = std::clamp<qint64>(m_top, first, first + maximum);
    if (top != m_top) {
        m_top = top;
        invalidate();
    }
    return int(top - first);
}

void HistoryLayout::scrolledTo(int value)
{
    const bool wasFollowing = m_following;
    m_following = value >= scrollMaximum();
    if (!m_following) {
        m_top = firstKey() + value;
        if (wasFollowing)
            m_heldAt = m_log->endLine();
    }
    invalidate();
}

bool HistoryLayout::endInSight() const
{
    if (m_following || !m_planned || m_rows.empty())
        return true;
    const HistoryRow &last = m_rows.back();
    return m_choices.hex ? last.pos + 2 * HexRowBytes >= m_log->receivedEnd()
                         : last.line.number + 2 >= m_log->endLine();
}

// ---------------------------------------------------------------------------
// Planning the rows in sight.

void HistoryLayout::plan()
{
    if (m_planned)
        return;
    std::vector<HistoryRow> previous;
    if (m_keepRows)
        previous = std::move(m_rows);
    m_rows.clear();
    if (m_choices.hex)
        planHex();
    else
        planText(previous);
    markHits();
    m_planned = true;
    m_keepRows = true;
    m_onBottomEdge = m_following;
    for (const HistoryRow &row : m_rows) {
        if (!row.x.empty())
            m_widest = std::max(m_widest, textLeft() + row.x.back());
    }
}

void HistoryLayout::placeCells(HistoryRow &row) const
{
    row.x.clear();
    int x = 0;
    for (const Cell &cell : row.cells) {
        row.x.push_back(x);
        x += m_metrics.width(cell);
    }
    row.x.push_back(x);
}

void HistoryLayout::planText(std::vector<HistoryRow> &previous)
{
    const qint64 begin = m_log->beginLine();
    const qint64 end = m_log->endLine();
    const int rows = m_any;
    auto shown = [this](const HistoryLine &l) {
        return m_choices.sent || (l.kind != HistoryLine::Sent && !(l.flags & HistoryLine::Remark));
    };
    std::vector<HistoryLine> lines;
    if (m_following) {
        // From the end up: read a screenful and more, until enough are shown.
        for (qint64 to = end; to > begin && qint64(lines.size()) < rows;) {
            const qint64 from = std::max(begin, to - rows - 64);
            const std::vector<HistoryLine> batch = m_log->lines(from, to - from);
            if (batch.empty())
                break;
            for (auto it = batch.rbegin(); it != batch.rend() && qint64(lines.size()) < rows;
                 ++it) {
                if (shown(*it))
                    lines.push_back(*it);
            }
            to = from;
        }
        std::reverse(lines.begin(), lines.end());
    } else {
        for (qint64 from = std::clamp(m_top, begin, end);
             from < end && qint64(lines.size()) < rows;) {
            const std::vector<HistoryLine> batch = m_log->lines(from, rows + 64);
            if (batch.empty())
                break;
            for (const HistoryLine &l : batch) {
                if (shown(l) && qint64(lines.size()) < rows)
                    lines.push_back(l);
            }
            from = batch.back().number + 1;
        }
    }
    if (lines.empty())
        return;
    // Rows planned before keep their bytes and cells while their line is as
    // it was (the growing last line is not): following a fast line, only the
    // new lines are read and decoded.
    const auto previousRow = [&previous](qint64 number) -> HistoryRow * {
        const auto it =
            std::lower_bound(previous.begin(), previous.end(), number,
                             [](const HistoryRow &row, qint64 n) { return row.line.number < n; });
        return it != previous.end() && it->line.number == number ? &*it : nullptr;
    };
    std::vector<HistoryRow *> kept(lines.size());
    std::vector<HistoryLine> unread;
    for (size_t i = 0; i < lines.size(); ++i) {
        HistoryRow *row = previousRow(lines[i].number);
        const HistoryLine &a = lines[i];
        if (row && row->line.pos == a.pos && row->line.length == a.length &&
            row->line.kind == a.kind && row->line.flags == a.flags && row->line.noteAt == a.noteAt)
            kept[i] = row;
        else
            unread.push_back(a);
    }
    const std::vector<QByteArray> contents = m_log->contents(unread);
    size_t nextRead = 0;

    // The colours the lines above left set.
    TextStyle style;
    const HistoryRow *above = previousRow(lines.front().number - 1);
    if (kept.front())
        style = kept.front()->styleBefore;
    else if (above)
        style = above->styleAfter;
    else if (m_choices.decode.colours) {
        const qint64 first = lines.front().number;
        const qint64 from = std::max(begin, first - StyleLookBack);
        const std::vector<HistoryLine> before = m_log->lines(from, first - from);
        const std::vector<QByteArray> bytes = m_log->contents(before);
        std::vector<Cell> cells;
        for (size_t i = 0; i < before.size(); ++i) {
            if (before[i].kind == HistoryLine::Marker && !(before[i].flags & HistoryLine::Remark))
                style = TextStyle();
            else if (before[i].kind == HistoryLine::Received)
                decodeLine(bytes[i], m_choices.decode, style, cells);
        }
    }
    for (size_t i = 0; i < lines.size(); ++i) {
        if (kept[i] && kept[i]->styleBefore == style && !kept[i]->revealed) {
            HistoryRow &row = *kept[i];
            row.hits.clear();
            style = row.styleAfter;
            m_rows.push_back(std::move(row));
            continue;
        }
        HistoryRow row;
        row.line = lines[i];
        row.bytes = kept[i] ? std::move(kept[i]->bytes) : contents[nextRead++];
        row.time = m_times.timeOfDay(row.line.time);
        row.styleBefore = style;
        if (row.line.kind == HistoryLine::Marker) {
            // A marker is the program's own text, and ends the colours of
            // what came before it; a remark of the commands comes between
            // the pieces of a line and leaves them.
            if (!(row.line.flags & HistoryLine::Remark))
                style = TextStyle();
        } else {
            TextStyle own;
            decodeLine(row.bytes, m_choices.decode,
                       row.line.kind == HistoryLine::Sent ? own : style, row.cells);
        }
        placeCells(row);
        row.styleAfter = style;
        m_rows.push_back(std::move(row));
    }
}

void HistoryLayout::planHex()
{
    const qint64 begin = m_log->receivedBegin();
    const qint64 end = m_log->receivedEnd();
    if (begin >= end)
        return;
    const qint64 firstRow = begin / HexRowBytes;
    const qint64 endRow = (end + HexRowBytes - 1) / HexRowBytes;
    const qint64 top = m_following ? std::max(firstRow, endRow - m_whole)
                                   : std::clamp(m_top, firstRow, endRow - 1);
    const qint64 last = std::min(endRow, top + m_any);
    HistoryRows::readHex(*m_log, std::max(top * HexRowBytes, begin), last * HexRowBytes, m_times,
                         m_rows);
}

void HistoryLayout::markHits()
{
    if (!m_search || m_rows.empty())
        return;
    if (m_choices.hex) {
        const qint64 from = m_rows.front().pos;
        const qint64 to = m_rows.back().pos + m_rows.back().bytes.size();
        const qint64 first = m_log->lineAt(from);
        const qint64 last = m_log->lineAt(to - 1);
        if (first < 0 || last < 0)
            return;
        for (const SearchHit &hit : m_search->hitsIn(first, last + 1)) {
            if (hit.pos < 0)
                continue;
            for (HistoryRow &row : m_rows) {
                const qint64 a = std::max(hit.pos, row.pos);
                const qint64 b = std::min(hit.pos + hit.length, row.pos + row.bytes.size());
                if (a < b)
                    row.hits.emplace_back(a, b);
            }
        }
        return;
    }
    // Received pieces lie one after the other in the stream, so a hit across
    // a cut is found in both by its stream position.
    for (const SearchHit &hit :
         m_search->hitsIn(m_rows.front().line.number, m_rows.back().line.number + 1)) {
        for (HistoryRow &row : m_rows) {
            if (hit.pos >= 0 && row.line.kind == HistoryLine::Received) {
                const qint64 a = std::max(hit.pos, row.line.pos);
                const qint64 b = std::min(hit.pos + hit.length, row.line.pos + row.bytes.size());
                if (a < b)
                    row.hits.emplace_back(a - row.line.pos, b - row.line.pos);
            } else if (hit.pos < 0 && row.line.number == hit.line) {
                row.hits.emplace_back(hit.offset, hit.offset + hit.length);
            }
        }
    }
    for (HistoryRow &row : m_rows)
        revealHits(row);
}

// Hex bytes are found in the escape sequences the colours hide too. A hit
// nobody can see is no help: in the row that holds it, each hidden sequence
// with a hit in it is shown as its bytes, the escape boxed, as with colours
// off, so that the hit's marks fall on them. The rest of the row keeps its
// colours.
void HistoryLayout::revealHits(HistoryRow &row)
{
    const auto hitIn = [&row](const Cell &cell) {
        return std::any_of(row.hits.begin(), row.hits.end(), [&cell](const auto &hit) {
            return cell.begin < hit.second && cell.begin + cell.size > hit.first;
        });
    };
    if (std::none_of(row.cells.begin(), row.cells.end(),
                     [&](const Cell &c) { return c.kind == Cell::Hidden && hitIn(c); }))
        return;
    std::vector<Cell> cells, shown;
    const DecodeOptions asTheyCame{m_choices.decode.charset, false};
    for (const Cell &cell : row.cells) {
        if (cell.kind != Cell::Hidden || !hitIn(cell)) {
            cells.push_back(cell);
            continue;
        }
        TextStyle plain;
        decodeLine(QByteArrayView(row.bytes).sliced(cell.begin, cell.size), asTheyCame, plain,
                   shown);
        for (Cell c : shown) {
            c.begin += cell.begin;
            cells.push_back(c);
        }
    }
    row.cells = std::move(cells);
    placeCells(row);
    row.revealed = true;
}

// ---------------------------------------------------------------------------
// Across.

int HistoryLayout::textLeft() const
{
    return m_metrics.margin +
           ((m_choices.times ? TimeColumns : 0) + MarkColumns) * m_metrics.column;
}

int HistoryLayout::offsetDigits() const
{
    return std::max(8, int(QString::number(m_log->receivedEnd(), 16).size()));
}

int HistoryLayout::timeLeft() const
{
    return m_metrics.margin + (offsetDigits() + 2) * m_metrics.column;
}

int HistoryLayout::hexLeft(int column) const
{
    const int first = offsetDigits() + 2 + (m_choices.times ? TimeColumns : 0);
    return m_metrics.margin +
           (first + column * 3 + (column >= HexRowBytes / 2 ? 1 : 0)) * m_metrics.column;
}

int HistoryLayout::charLeft(int column) const
{
    return hexLeft(0) + (HexColumns + column) * m_metrics.column;
}

QString HistoryLayout::offsetText(qint64 pos) const
{
    return HistoryRows::offset(pos, offsetDigits());
}

// ---------------------------------------------------------------------------
// Searching.

void HistoryLayout::setSearch(const SearchPattern &pattern)
{
    if (pattern.isEmpty())
        m_search.reset();
    else
        m_search.emplace(m_log, pattern);
    m_current.reset();
    invalidate();
}

void HistoryLayout::showHit(const SearchHit &hit)
{
    m_current = hit;
    hold();
    plan();
    const qint64 target = m_choices.hex ? hit.pos / HexRowBytes : hit.line;
    if (m_rows.empty() || target < keyOf(m_rows.front()) ||
        target > keyOf(m_rows[std::min<size_t>(m_rows.size(), size_t(m_whole)) - 1])) {
        m_top = std::max(firstKey(), target - m_whole / 3);
        invalidate();
    }
}

std::optional<int> HistoryLayout::currentLeft() const
{
    if (!m_current || m_choices.hex)
        return std::nullopt;
    for (const HistoryRow &row : m_rows) {
        if (row.line.number != m_current->line)
            continue;
        for (size_t i = 0; i < row.cells.size(); ++i) {
            if (row.cells[i].begin >= m_current->offset)
                return textLeft() + row.x[i];
        }
    }
    return std::nullopt;
}

SearchHit HistoryLayout::searchFrom() const
{
    if (m_current)
        return *m_current;
    SearchHit here;
    if (m_planned && !m_rows.empty()) {
        here.line = m_rows.front().line.number;
        here.pos = m_choices.hex ? m_rows.front().pos : -1;
    } else {
        here.line = m_following ? m_log->endLine() - 1 : m_top;
    }
    here.line -= 1; // the first row in sight is searched too
    here.offset = std::numeric_limits<qint64>::max();
    if (here.pos >= 0)
        here.pos -= 1;
    return here;
}

std::pair<qint64, qint64> HistoryLayout::currentIn(const HistoryRow &row) const
{
    if (!m_current)
        return {};
    if (m_choices.hex)
        return m_current->pos >= 0 ? std::pair(m_current->pos, m_current->pos + m_current->length)
                                   : std::pair<qint64, qint64>();
    const HistoryLine &line = row.line;
    if (m_current->pos >= 0 && line.kind == HistoryLine::Received)
        return {m_current->pos - line.pos, m_current->pos - line.pos + m_current->length};
    if (m_current->line == line.number)
        return {m_current->offset, m_current->offset + m_current->length};
    return {};
}

// ---------------------------------------------------------------------------
// Selecting.

std::optional<HistoryLayout::Place> HistoryLayout::placeAt(size_t index, int x) const
{
    if (m_rows.empty())
        return std::nullopt;
    const HistoryRow &row = m_rows[std::min(index, m_rows.size() - 1)];
    if (m_choices.hex) {
        int column = x >= charLeft(0) ? (x - charLeft(0)) / m_metrics.column
                                      : (x - hexLeft(0)) / (3 * m_metrics.column);
        column = std::clamp(column, 0, HexRowBytes);
        const qint64 rowStart = row.pos - row.pos % HexRowBytes;
        return Place{0, std::clamp(rowStart + column, row.pos, row.pos + row.bytes.size())};
    }
    const int across = x - textLeft();
    for (size_t i = 0; i < row.cells.size(); ++i) {
        if (2 * across < row.x[i] + row.x[i + 1])
            return Place{row.line.number, row.cells[i].begin};
    }
    return Place{row.line.number, row.bytes.size()};
}

void HistoryLayout::selectAll()
{
    hold();
    m_selection.selectAll(*m_log, m_choices.hex);
}
