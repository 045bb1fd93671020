#include "historyview.h"

#include "cachedcontrols.h"
#include "codepage.h"
#include "textcolours.h"

#include <QApplication>
#include <QClipboard>
#include <QGlyphRun>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QVarLengthArray>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>

namespace
{

constexpr int Margin = 4;
constexpr qint64 MaxCopyLines = 100000;
constexpr qint64 MaxCopyBytes = qint64(16) << 20;
constexpr int FirstFrameMs = 50;
constexpr int StreamFrameMs = 200;
constexpr int StyleLookBack = 32; // lines decoded before the first in sight, for its colours

const QColor SentColour(0x1c, 0x5f, 0xa8);
const QColor MarkerColour(0x44, 0x44, 0x44);
const QColor MarkerBand(0xe3, 0xea, 0xf3);
const QColor HitColour(0xff, 0xe3, 0x6e);
const QColor CurrentHitColour(0xff, 0x9f, 0x40);
const QColor InvalidColour(0xb0, 0x00, 0x00);

QString hexByte(uchar b)
{
    static const char digits[] = "0123456789ABCDEF";
    const QChar pair[2] = {QLatin1Char(digits[b >> 4]), QLatin1Char(digits[b & 15])};
    return QString(pair, 2);
}

// The character a byte shows as in the hex rows' right column.
QChar hexColumnChar(uchar b)
{
    const QChar c = charFromByte(b);
    return b < 0x20 || b == 0x7f || (c.unicode() >= 0x80 && c.unicode() <= 0xa0) || b == 0xad
               ? QChar(0x00b7)
               : c;
}

} // namespace

HistoryView::HistoryView(std::shared_ptr<const HistoryLog> log, QWidget *parent)
    : QAbstractScrollArea(parent), m_log(std::move(log))
{
    setFocusPolicy(Qt::StrongFocus);
    // The bar changes with every frame of a busy line: it keeps its pictures.
    setVerticalScrollBar(new CachedScrollBar(Qt::Vertical));
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    QFont mono(QStringLiteral("Liberation Mono"));
    mono.setStyleHint(QFont::Monospace);
    mono.setFixedPitch(true);
    mono.setPixelSize(13);
    setFont(mono);
    prepareFont();

    // New lines show on the coarse 50 ms beat the main window's timers
    // share. While they keep coming, five pictures a second: following, every
    // picture moves the whole view, and each costs as much to hand to the
    // screen as all of the main window's; nobody reads a log that scrolls
    // faster.
    m_frame.setInterval(FirstFrameMs);
    m_frame.setTimerType(Qt::CoarseTimer);
    connect(&m_frame, &QTimer::timeout, this, [this] {
        if (m_changed) {
            syncNow();
            m_frame.setInterval(StreamFrameMs);
        } else {
            m_frame.stop();
            m_frame.setInterval(FirstFrameMs);
        }
    });
    m_heldAt = m_log->endLine();
    updateBars();
}

void HistoryView::prepareFont()
{
    m_fonts[0] = font();
    m_fonts[1] = font();
    m_fonts[1].setBold(true);
    m_fonts[2] = font();
    const qreal size = font().pixelSize() > 0 ? font().pixelSize() : QFontInfo(font()).pixelSize();
    m_fonts[2].setPixelSize(std::max(7, int(std::lround(size * 0.62))));
    for (int f = 0; f < 3; ++f)
        m_raw[f] = QRawFont::fromFont(m_fonts[f]);
    const QFontMetricsF metrics(font());
    m_lineHeight = std::max(1, int(std::ceil(metrics.lineSpacing())));
    m_ascent = std::round(metrics.ascent() + (m_lineHeight - metrics.height()) / 2);
    const QFontMetricsF smallMetrics(m_fonts[2]);
    m_smallBaseline =
        std::round((m_lineHeight + smallMetrics.ascent() - smallMetrics.descent()) / 2);
    // Columns of whole pixels, as a terminal has them: every cell then falls
    // on whole pixels, and rows can be put together from kept pictures.
    m_charWidth = std::max<qreal>(1, std::round(metrics.horizontalAdvance(QLatin1Char('0'))));
    m_pictures.clear();
    for (int f = 0; f < 2; ++f) {
        m_glyphs[f].clear();
        for (char32_t c = 0; c < 128; ++c) {
            const QList<quint32> g = m_raw[f].glyphIndexesForString(QString(QChar(char16_t(c))));
            m_ascii[size_t(f)][c] = g.value(0);
        }
    }
    m_widths.clear();
    m_labels.clear();
    m_widest = 0;
    invalidate();
}

void HistoryView::setChoices(const Choices &choices)
{
    if (choices == m_choices)
        return;
    // Text and hex keep the same place in sight.
    if (choices.hex != m_choices.hex && !m_following) {
        if (choices.hex)
            m_top = m_log->line(m_top).pos / 16;
        else
            m_top = std::max(m_log->beginLine(), m_log->lineAt(m_top * 16));
    }
    if (choices.hex != m_choices.hex)
        m_anchor = m_cursor = std::nullopt;
    m_choices = choices;
    if (m_search) {
        SearchPattern pattern = m_search->pattern();
        pattern.decode = choices.decode;
        pattern.sentLines = choices.sent;
        m_search.emplace(m_log, pattern);
    }
    m_widest = 0;
    invalidate();
    updateBars();
    Q_EMIT stateChanged();
}

void HistoryView::invalidate()
{
    m_rowsValid = false;
    viewport()->update();
}

void HistoryView::logChanged()
{
    m_changed = true;
    if (!m_frame.isActive())
        m_frame.start();
}

void HistoryView::syncNow()
{
    m_changed = false;
    // The rows in sight before, to move the picture where they stay instead
    // of painting them anew: a slow line adds a row or two a frame.
    std::vector<qint64> was;
    if (m_rowsValid) {
        for (const Row &row : m_rows)
            was.push_back(topOf(row));
    }
    const int wasOffset = m_rowOffset;
    const bool endInSight = m_following || !m_rowsValid || m_rows.empty() ||
                            m_rows.back().line.number + 2 >= m_log->endLine() ||
                            (m_choices.hex && m_rows.back().pos + 32 >= m_log->receivedEnd());
    const qint64 before = m_top;
    updateBars();
    Q_EMIT stateChanged();
    // Held still, a frame costs nothing unless what is in sight changed: the
    // growing last line, or lines dropped under it.
    if (!endInSight && before == m_top && m_rowsValid)
        return;
    m_rowsValid = false;
    planRows();
    const auto key = [this](const Row &row) { return topOf(row); };
    const auto it =
        m_rows.empty() ? was.end() : std::find(was.begin(), was.end(), key(m_rows.front()));
    const qsizetype moved = it - was.begin();
    bool same = m_following && it != was.end() && m_rowOffset == wasOffset;
    for (qsizetype i = 0; same && i + moved < qsizetype(was.size()); ++i)
        same = i < qsizetype(m_rows.size()) && key(m_rows[size_t(i)]) == was[size_t(i + moved)];
    if (!same) {
        viewport()->update();
        return;
    }
    if (moved > 0)
        viewport()->scroll(0, -int(moved) * m_lineHeight);
    // From the row that was last (it may have grown) down.
    const int top = rowTop(size_t(std::max<qsizetype>(0, qsizetype(was.size()) - 1 - moved)));
    viewport()->update(QRect(0, top, viewport()->width(), viewport()->height() - top));
}

qint64 HistoryView::firstTop() const
{
    return m_choices.hex ? m_log->receivedBegin() / 16 : m_log->beginLine();
}

qint64 HistoryView::topOf(const Row &row) const
{
    return m_choices.hex ? row.pos / 16 : row.line.number;
}

int HistoryView::offsetDigits() const
{
    return std::max(8, int(QString::number(m_log->receivedEnd(), 16).size()));
}

qreal HistoryView::hexLeft() const
{
    return Margin + (offsetDigits() + 2 + (m_choices.times ? 14 : 0)) * m_charWidth;
}

QString HistoryView::offsetText(qint64 pos) const
{
    return QString::number(pos & ~qint64(15), 16)
        .toUpper()
        .rightJustified(offsetDigits(), QLatin1Char('0'));
}

int HistoryView::fullRows() const
{
    return std::max(1, (viewport()->height() - Margin) / m_lineHeight);
}

void HistoryView::updateBars()
{
    QScrollBar *bar = verticalScrollBar();
    const qint64 first = firstTop();
    const qint64 count =
        (m_choices.hex ? (m_log->receivedEnd() + 15) / 16 : m_log->endLine()) - first;
    if (!m_following && m_top < first)
        m_top = first; // lines went from under the place in sight
    const int maximum = int(std::clamp<qint64>(count - fullRows(), 0, INT_MAX));
    m_settingBars = true;
    bar->setRange(0, maximum);
    if (bar->pageStep() != fullRows())
        bar->setPageStep(fullRows());
    bar->setSingleStep(1);
    bar->setValue(m_following ? maximum : int(std::min<qint64>(m_top - first, maximum)));
    if (!m_following && bar->value() < int(m_top - first))
        m_top = first + bar->value();
    QScrollBar *across = horizontalScrollBar();
    across->setRange(0, std::max(0, int(std::ceil(m_widest)) + Margin - viewport()->width()));
    across->setPageStep(viewport()->width());
    across->setSingleStep(int(m_charWidth) * 4);
    m_settingBars = false;
}

void HistoryView::scrollContentsBy(int, int)
{
    if (m_settingBars) {
        m_rowsValid = false; // the caller repaints what changed
        return;
    }
    QScrollBar *bar = verticalScrollBar();
    const qint64 first = firstTop();
    const bool wasFollowing = m_following;
    m_following = bar->value() >= bar->maximum();
    if (!m_following) {
        m_top = first + bar->value();
        if (wasFollowing)
            m_heldAt = m_log->endLine();
    }
    invalidate();
    if (wasFollowing != m_following)
        Q_EMIT stateChanged();
}

qint64 HistoryView::arrivedWhileHeld() const
{
    return m_following ? 0 : std::max<qint64>(0, m_log->endLine() - m_heldAt);
}

void HistoryView::hold()
{
    if (!m_following)
        return;
    planRows();
    m_following = false;
    m_heldAt = m_log->endLine();
    if (!m_rows.empty())
        m_top = topOf(m_rows.front());
    updateBars();
    Q_EMIT stateChanged();
}

void HistoryView::follow()
{
    m_following = true;
    updateBars();
    invalidate();
    Q_EMIT stateChanged();
}

void HistoryView::toStart()
{
    hold();
    m_top = firstTop();
    updateBars();
    invalidate();
}

void HistoryView::setSearch(const SearchPattern &pattern)
{
    if (pattern.isEmpty())
        m_search.reset();
    else
        m_search.emplace(m_log, pattern);
    m_current.reset();
    invalidate();
}

void HistoryView::showHit(const SearchHit &hit)
{
    m_current = hit;
    hold();
    // The hit a few rows below the top, so what came before it shows too.
    const qint64 target = m_choices.hex ? hit.pos / 16 : hit.line;
    planRows();
    const size_t lastWhole = std::min<size_t>(m_rows.size(), size_t(fullRows())) - 1;
    if (m_rows.empty() || target < topOf(m_rows.front()) || target > topOf(m_rows[lastWhole]))
        m_top = std::max(firstTop(), target - fullRows() / 3);
    updateBars();
    invalidate();
    planRows();
    // The hit's cells in sight across.
    for (const Row &row : m_rows) {
        if (m_choices.hex || row.line.number != hit.line)
            continue;
        for (size_t i = 0; i < row.cells.size(); ++i) {
            if (row.cells[i].begin >= hit.offset) {
                QScrollBar *across = horizontalScrollBar();
                const int x = int(row.x[i]);
                if (x < across->value() || x > across->value() + viewport()->width() - 40)
                    across->setValue(std::max(0, x - viewport()->width() / 3));
                break;
            }
        }
    }
}

SearchHit HistoryView::searchFrom() const
{
    if (m_current)
        return *m_current;
    SearchHit here;
    if (m_rowsValid && !m_rows.empty()) {
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

// ---------------------------------------------------------------------------
// What is in sight.

void HistoryView::planRows()
{
    if (m_rowsValid)
        return;
    std::vector<Row> previous;
    if (m_plannedChoices == m_choices && m_plannedWidth == m_charWidth)
        previous = std::move(m_rows);
    m_plannedChoices = m_choices;
    m_plannedWidth = m_charWidth;
    m_rows.clear();
    const int rows = (viewport()->height() - Margin + m_lineHeight - 1) / m_lineHeight;
    if (m_choices.hex)
        planHex(rows);
    else
        planText(rows, previous);
    markHits();
    // Following, the newest row sits whole on the bottom edge.
    const int height = Margin + int(m_rows.size()) * m_lineHeight;
    m_rowOffset = m_following ? std::min(0, viewport()->height() - height) : 0;
    m_rowsValid = true;
    const qreal widest = m_widest;
    for (const Row &row : m_rows) {
        if (!row.x.empty())
            m_widest = std::max(m_widest, row.x.back());
    }
    if (m_widest != widest)
        QMetaObject::invokeMethod(
            this, [this] { updateBars(); }, Qt::QueuedConnection);
}

void HistoryView::planText(int rows, std::vector<Row> &previous)
{
    const qint64 begin = m_log->beginLine();
    const qint64 end = m_log->endLine();
    auto shown = [this](const HistoryLine &l) {
        return m_choices.sent || l.kind != HistoryLine::Sent;
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
    // Rows of the frame before keep their bytes and cells while their line
    // is as it was (the growing last line is not): following a fast line,
    // only the new lines are read and decoded.
    const auto previousRow = [&previous](qint64 number) -> Row * {
        const auto it =
            std::lower_bound(previous.begin(), previous.end(), number,
                             [](const Row &row, qint64 n) { return row.line.number < n; });
        return it != previous.end() && it->line.number == number ? &*it : nullptr;
    };
    std::vector<Row *> kept(lines.size());
    std::vector<HistoryLine> unread;
    for (size_t i = 0; i < lines.size(); ++i) {
        Row *row = previousRow(lines[i].number);
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
    const Row *above = previousRow(lines.front().number - 1);
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
            if (before[i].kind == HistoryLine::Marker)
                style = TextStyle();
            else if (before[i].kind == HistoryLine::Received)
                decodeLine(bytes[i], m_choices.decode, style, cells);
        }
    }
    for (size_t i = 0; i < lines.size(); ++i) {
        if (kept[i] && kept[i]->styleBefore == style && !kept[i]->revealed) {
            Row &row = *kept[i];
            row.hits.clear();
            style = row.styleAfter;
            m_rows.push_back(std::move(row));
            continue;
        }
        Row row;
        row.line = lines[i];
        row.bytes = kept[i] ? std::move(kept[i]->bytes) : contents[nextRead++];
        row.timeOf = row.line.time;
        row.styleBefore = style;
        qreal x = textLeft();
        row.x.push_back(x);
        if (row.line.kind == HistoryLine::Marker) {
            // A marker is the program's own text, and ends the colours of
            // what came before it.
            style = TextStyle();
        } else {
            TextStyle own;
            decodeLine(row.bytes, m_choices.decode,
                       row.line.kind == HistoryLine::Sent ? own : style, row.cells);
            row.x.clear();
            for (const Cell &cell : row.cells) {
                row.x.push_back(x);
                x += cellWidth(cell);
            }
            row.x.push_back(x);
        }
        row.styleAfter = style;
        m_rows.push_back(std::move(row));
    }
}

void HistoryView::planHex(int rows)
{
    const qint64 begin = m_log->receivedBegin();
    const qint64 end = m_log->receivedEnd();
    if (begin >= end)
        return;
    const qint64 firstRow = begin / 16;
    const qint64 endRow = (end + 15) / 16;
    const qint64 top = m_following ? std::max(firstRow, endRow - fullRows())
                                   : std::clamp(m_top, firstRow, endRow - 1);
    const qint64 last = std::min(endRow, top + rows);
    const qint64 from = std::max(top * 16, begin);
    const QByteArray data = m_log->received(from, last * 16);
    // The line of each row's first byte, for its time.
    const qint64 firstLine = m_log->lineAt(from);
    const qint64 lastLine = m_log->lineAt(std::min(end, last * 16) - 1);
    std::vector<HistoryLine> lines;
    if (firstLine >= 0 && lastLine >= firstLine)
        lines = m_log->lines(firstLine, lastLine - firstLine + 1);
    size_t k = 0;
    for (qint64 r = top; r < last; ++r) {
        Row row;
        row.pos = std::max(r * 16, begin);
        const qint64 at = row.pos - from;
        if (at >= data.size())
            break;
        row.bytes = data.sliced(at, std::min<qint64>(r * 16 + 16 - row.pos, data.size() - at));
        while (k + 1 < lines.size() &&
               (lines[k + 1].kind != HistoryLine::Received || lines[k + 1].pos <= row.pos)) {
            if (lines[k + 1].kind == HistoryLine::Received || k + 2 < lines.size())
                ++k;
            else
                break;
        }
        // Only received lines have a time here.
        size_t t = k;
        while (t > 0 && lines[t].kind != HistoryLine::Received)
            --t;
        if (!lines.empty() && lines[t].kind == HistoryLine::Received && lines[t].pos <= row.pos)
            row.line = lines[t], row.timeOf = lines[t].time;
        m_rows.push_back(std::move(row));
    }
}

void HistoryView::markHits()
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
            for (Row &row : m_rows) {
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
        for (Row &row : m_rows) {
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
    for (Row &row : m_rows)
        revealHits(row);
}

// Hex bytes are found in the escape sequences the colours hide too. A hit
// nobody can see is no help: in the row that holds it, each hidden sequence
// with a hit in it is shown as its bytes, the escape boxed, as with colours
// off, so that the hit's marks fall on them. The rest of the row keeps its
// colours.
void HistoryView::revealHits(Row &row)
{
    const auto hitIn = [&row](const Cell &cell) {
        for (const auto &[a, b] : row.hits) {
            if (cell.begin < b && cell.begin + cell.size > a)
                return true;
        }
        return false;
    };
    if (row.hits.empty() || std::none_of(row.cells.begin(), row.cells.end(), [&](const Cell &c) {
            return c.kind == Cell::Hidden && hitIn(c);
        }))
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
    row.x.clear();
    qreal x = textLeft();
    for (const Cell &cell : row.cells) {
        row.x.push_back(x);
        x += cellWidth(cell);
    }
    row.x.push_back(x);
    row.revealed = true;
}

qreal HistoryView::textLeft() const
{
    qreal x = Margin;
    if (m_choices.times)
        x += 14 * m_charWidth;
    return x + 2 * m_charWidth; // the mark of a sent or continued line
}

qreal HistoryView::charWidth(char32_t c)
{
    if (c < 0x80)
        return m_charWidth;
    auto it = m_widths.constFind(c);
    if (it != m_widths.cend())
        return *it;
    const qreal w = std::round(QFontMetricsF(font()).horizontalAdvance(QString::fromUcs4(&c, 1)));
    m_widths.insert(c, w);
    return w;
}

qreal HistoryView::cellWidth(const Cell &cell)
{
    if (cell.kind == Cell::Hidden)
        return 0;
    if (cell.kind == Cell::Char)
        return charWidth(cell.code);
    const QString label = boxLabel(cell);
    auto it = m_labels.constFind(label);
    if (it == m_labels.cend()) {
        Label l;
        l.glyphs = m_raw[2].glyphIndexesForString(label);
        const QList<QPointF> advances = m_raw[2].advancesForGlyphIndexes(l.glyphs);
        qreal x = 3;
        for (const QPointF &a : advances) {
            l.places.append(QPointF(x, 0));
            x += std::round(a.x());
        }
        l.width = std::ceil(x + 4);
        it = m_labels.insert(label, l);
    }
    return it->width;
}

// ---------------------------------------------------------------------------
// Painting.

// The glyphs of a frame, gathered by font and colour and drawn at its end
// in a few runs; backgrounds and boxes are painted as the rows are walked.
struct HistoryView::Batch {
    struct Run {
        QList<quint32> glyphs;
        QList<QPointF> places;
    };
    std::map<std::pair<int, QRgb>, Run> runs;
    // Characters the font lacks, drawn with a fallback font.
    struct Loose {
        QPointF at;
        QString text;
        int font;
        QColor colour;
    };
    std::vector<Loose> loose;
};

quint32 HistoryView::glyphOf(int font, char32_t c)
{
    if (c < 128)
        return m_ascii[size_t(font)][c];
    auto it = m_glyphs[font].constFind(c);
    if (it == m_glyphs[font].cend())
        it = m_glyphs[font].insert(
            c, m_raw[font].glyphIndexesForString(QString::fromUcs4(&c, 1)).value(0));
    return *it;
}

void HistoryView::addChar(Batch &batch, int font, const QColor &colour, QPointF at, char32_t c)
{
    if (const quint32 glyph = glyphOf(font, c)) {
        Batch::Run &run = batch.runs[{font, colour.rgba()}];
        run.glyphs.append(glyph);
        run.places.append(at);
    } else if (c > ' ') {
        batch.loose.push_back({at, QString::fromUcs4(&c, 1), font, colour});
    }
}

void HistoryView::addText(Batch &batch, int font, const QColor &colour, QPointF at,
                          QStringView text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text[i].unicode();
        if (text[i].isHighSurrogate() && i + 1 < text.size()) {
            c = QChar::surrogateToUcs4(text[i], text[i + 1]);
            ++i;
        }
        addChar(batch, font, colour, at, c);
        at.rx() += charWidth(c);
    }
}

void HistoryView::addLabel(Batch &batch, const QColor &colour, QPointF at, const QString &label)
{
    const Label &l = *m_labels.constFind(label); // made by cellWidth
    Batch::Run &run = batch.runs[{2, colour.rgba()}];
    run.glyphs += l.glyphs;
    for (const QPointF &p : l.places)
        run.places.append(at + p);
}

int HistoryView::rowTop(size_t row) const
{
    return Margin + m_rowOffset + int(row) * m_lineHeight;
}

void HistoryView::paintEvent(QPaintEvent *event)
{
    planRows();
    QPainter painter(viewport());
    const QRect clip = event->rect();
    painter.fillRect(clip, palette().brush(QPalette::Base));
    // Colours without end (a device that sends every colour there is) must
    // not make the pictures grow without end.
    const qreal ratio = viewport()->devicePixelRatioF();
    if (m_pictureRatio != ratio || m_pictures.size() > 8192) {
        m_pictures.clear();
        m_pictureRatio = ratio == std::floor(ratio) ? int(ratio) : 0;
    }
    Batch batch;
    for (size_t i = 0; i < m_rows.size(); ++i) {
        const int top = rowTop(i);
        if (top > clip.bottom() || top + m_lineHeight <= clip.top())
            continue;
        if (m_choices.hex)
            paintHexRow(painter, batch, m_rows[i], top);
        else if (!composeTextRow(painter, m_rows[i], top))
            paintTextRow(painter, batch, m_rows[i], top);
    }
    for (const auto &[key, run] : batch.runs) {
        QGlyphRun glyphs;
        glyphs.setRawFont(m_raw[key.first]);
        glyphs.setGlyphIndexes(run.glyphs);
        glyphs.setPositions(run.places);
        painter.setPen(QColor::fromRgba(key.second));
        painter.drawGlyphRun(QPointF(0, 0), glyphs);
    }
    for (const Batch::Loose &l : batch.loose) {
        painter.setFont(m_fonts[l.font]);
        painter.setPen(l.colour);
        painter.drawText(l.at, l.text);
    }
}

void HistoryView::paintTextRow(QPainter &painter, Batch &batch, const Row &row, int top)
{
    const QPalette &pal = palette();
    const qreal shift = horizontalScrollBar()->value();
    const qreal right = viewport()->width();
    const qreal baseline = top + m_ascent;
    const HistoryLine &line = row.line;

    // What of this line is selected: bytes [selFrom, selTo).
    qint64 selFrom = 0, selTo = 0;
    if (hasSelection()) {
        const Place from = std::min(*m_anchor, *m_cursor);
        const Place to = std::max(*m_anchor, *m_cursor);
        if (line.number >= from.line && line.number <= to.line) {
            selFrom = line.number == from.line ? from.at : 0;
            selTo = line.number == to.line ? to.at : std::numeric_limits<qint64>::max();
        }
    }

    const QColor muted = pal.color(QPalette::PlaceholderText);
    if (m_choices.times && row.timeOf >= 0 && !line.continued())
        addText(batch, 0, muted, QPointF(Margin - shift, baseline), m_times.timeOfDay(row.timeOf));
    const QPointF mark(textLeft() - 2 * m_charWidth - shift, baseline);
    if (line.kind == HistoryLine::Sent)
        addChar(batch, 0, SentColour, mark, U'→');
    else if (line.continued())
        addChar(batch, 0, muted, mark, U'»');
    if (line.kind == HistoryLine::Marker) {
        painter.fillRect(QRectF(textLeft() - m_charWidth - shift, top, right + shift, m_lineHeight),
                         MarkerBand);
        addText(batch, 1, MarkerColour, QPointF(textLeft() - shift, baseline),
                QString::fromUtf8(row.bytes));
        return;
    }

    // The current hit's bytes in this row.
    qint64 currentFrom = 0, currentTo = 0;
    if (m_current && m_current->pos >= 0 && line.kind == HistoryLine::Received) {
        currentFrom = m_current->pos - line.pos;
        currentTo = currentFrom + m_current->length;
    } else if (m_current && m_current->line == line.number) {
        currentFrom = m_current->offset;
        currentTo = currentFrom + m_current->length;
    }
    auto hitAt = [&](const Cell &cell) {
        for (const auto &[a, b] : row.hits) {
            if (cell.begin < b && cell.begin + cell.size > a)
                return true;
        }
        return false;
    };
    const QColor text = line.kind == HistoryLine::Sent ? SentColour : pal.color(QPalette::Text);
    for (size_t i = 0; i < row.cells.size(); ++i) {
        const Cell &cell = row.cells[i];
        if (cell.kind == Cell::Hidden)
            continue;
        const qreal x = row.x[i] - shift;
        const qreal w = row.x[i + 1] - row.x[i];
        if (x + w < 0)
            continue;
        if (x > right)
            break;
        const bool selected = cell.begin >= selFrom && cell.begin < selTo;
        QColor ground;
        if (selected)
            ground = pal.color(QPalette::Highlight);
        else if (cell.begin < currentTo && cell.begin + cell.size > currentFrom)
            ground = CurrentHitColour;
        else if (!row.hits.empty() && hitAt(cell))
            ground = HitColour;
        else
            ground = groundColour(cell.style.background);
        if (ground.isValid())
            painter.fillRect(QRectF(x, top, w, m_lineHeight), ground);

        if (cell.kind == Cell::Boxed) {
            const QColor pen = selected       ? pal.color(QPalette::HighlightedText)
                               : cell.invalid ? InvalidColour
                                              : muted;
            painter.setPen(QPen(pen, 1));
            painter.setBrush(Qt::NoBrush);
            painter.drawRect(QRectF(x + 1.5, top + 1.5, w - 3, m_lineHeight - 3));
            addLabel(batch, pen, QPointF(x, top + m_smallBaseline), boxLabel(cell));
            continue;
        }
        const QColor pen = selected
                               ? pal.color(QPalette::HighlightedText)
                               : textColour(cell.style.foreground, text,
                                            ground.isValid() ? ground : pal.color(QPalette::Base));
        addChar(batch, cell.style.bold ? 1 : 0, pen, QPointF(x, baseline), cell.code);
        if (cell.style.underline)
            painter.fillRect(QRectF(x, baseline + 2, w, 1), pen);
    }
}

size_t HistoryView::LookHash::operator()(const Look &l) const
{
    return qHashMulti(0, quint32(l.code), l.pen, l.ground, l.width, l.font, l.boxed, l.invalid,
                      l.underline);
}

const QImage &HistoryView::cellPicture(const Look &look)
{
    const auto [it, made] = m_pictures.try_emplace(look);
    QImage &picture = it->second;
    if (!made)
        return picture;
    const int ratio = m_pictureRatio;
    picture = QImage(look.width * ratio, m_lineHeight * ratio, QImage::Format_RGB32);
    picture.setDevicePixelRatio(ratio);
    picture.fill(look.ground);
    QPainter painter(&picture);
    const QColor pen = QColor::fromRgba(look.pen);
    if (look.boxed) {
        painter.setPen(QPen(pen, 1));
        painter.drawRect(QRectF(1.5, 1.5, look.width - 3, m_lineHeight - 3));
        Cell cell;
        cell.kind = Cell::Boxed;
        cell.code = look.code;
        cell.invalid = look.invalid;
        const QString label = boxLabel(cell);
        cellWidth(cell); // makes the label's glyphs
        const Label &l = *m_labels.constFind(label);
        QList<QPointF> places;
        for (const QPointF &p : l.places)
            places.append(p + QPointF(0, m_smallBaseline));
        QGlyphRun run;
        run.setRawFont(m_raw[2]);
        run.setGlyphIndexes(l.glyphs);
        run.setPositions(places);
        painter.drawGlyphRun(QPointF(0, 0), run);
        return picture;
    }
    painter.setPen(pen);
    if (const quint32 glyph = glyphOf(look.font, look.code)) {
        QGlyphRun run;
        run.setRawFont(m_raw[look.font]);
        run.setGlyphIndexes({glyph});
        run.setPositions({QPointF(0, m_ascent)});
        painter.drawGlyphRun(QPointF(0, 0), run);
    } else if (look.code > ' ') {
        painter.setFont(m_fonts[look.font]);
        painter.drawText(QPointF(0, m_ascent), QString::fromUcs4(&look.code, 1));
    }
    if (look.underline)
        painter.fillRect(QRectF(0, m_ascent + 2, look.width, 1), pen);
    return picture;
}

// A text row as the receive box paints its rows: put together from kept
// pictures of its cells, a copy per scan line, and handed to the painter in
// one piece. Under a fast line every row in sight is new in a few frames, and
// blending each glyph anew cost more than the rest of the program. Rows with
// a selection, hits or a marker's band, and pixel ratios that are not whole,
// are painted glyph by glyph (false).
bool HistoryView::composeTextRow(QPainter &painter, const Row &row, int top)
{
    const HistoryLine &line = row.line;
    if (m_pictureRatio == 0 || line.kind == HistoryLine::Marker || !row.hits.empty() ||
        (m_current && (m_current->line == line.number ||
                       (m_current->pos >= 0 && m_current->pos < line.pos + row.bytes.size() &&
                        m_current->pos + m_current->length > line.pos))))
        return false;
    if (hasSelection()) {
        const Place from = std::min(*m_anchor, *m_cursor);
        const Place to = std::max(*m_anchor, *m_cursor);
        if (line.number >= from.line && line.number <= to.line)
            return false;
    }
    const QPalette &pal = palette();
    const int ratio = m_pictureRatio;
    const int width = viewport()->width();
    const int shift = horizontalScrollBar()->value();
    const int cw = int(m_charWidth);
    const QRgb base = pal.color(QPalette::Base).rgb();
    // Pens keep their alpha: the muted one is the text's colour, half seen.
    const QRgb muted = pal.color(QPalette::PlaceholderText).rgba();
    const QRgb text =
        line.kind == HistoryLine::Sent ? SentColour.rgba() : pal.color(QPalette::Text).rgba();

    struct Piece {
        int x;
        const QImage *picture;
    };
    QVarLengthArray<Piece, 256> pieces;
    // False when the cell does not fit the pictures (no width of its own).
    auto add = [&](qreal at, const Look &look) {
        const int x = int(at);
        if (look.width <= 0 || x != at)
            return false;
        if (x + look.width > 0 && x < width)
            pieces.append({x, &cellPicture(look)});
        return true;
    };
    auto addText = [&](int x, QRgb pen, QStringView chars) {
        for (const QChar c : chars) {
            add(x, {c.unicode(), pen, base, cw});
            x += cw;
        }
    };
    if (m_choices.times && row.timeOf >= 0 && !line.continued())
        addText(Margin - shift, muted, m_times.timeOfDay(row.timeOf));
    const int mark = int(textLeft()) - 2 * cw - shift;
    if (line.kind == HistoryLine::Sent)
        add(mark, {U'→', SentColour.rgba(), base, cw});
    else if (line.continued())
        add(mark, {U'»', muted, base, cw});
    for (size_t i = 0; i < row.cells.size(); ++i) {
        const Cell &cell = row.cells[i];
        if (cell.kind == Cell::Hidden)
            continue;
        const qreal x = row.x[i] - shift;
        if (x > width)
            break;
        Look look;
        look.code = cell.code;
        look.width = int(row.x[i + 1] - row.x[i]);
        const QColor ground = groundColour(cell.style.background);
        look.ground = ground.isValid() ? ground.rgb() : base;
        if (cell.kind == Cell::Boxed) {
            look.boxed = true;
            look.invalid = cell.invalid;
            look.pen = cell.invalid ? InvalidColour.rgba() : muted;
        } else {
            look.pen = textColour(cell.style.foreground, QColor::fromRgba(text),
                                  QColor::fromRgb(look.ground))
                           .rgba();
            look.font = cell.style.bold ? 1 : 0;
            look.underline = cell.style.underline;
        }
        if (look.width != row.x[i + 1] - row.x[i] || !add(x, look))
            return false;
    }

    const int w = width * ratio;
    const int h = m_lineHeight * ratio;
    if (m_rowPicture.width() != w || m_rowPicture.height() != h) {
        m_rowPicture = QImage(w, h, QImage::Format_RGB32);
        m_rowPicture.setDevicePixelRatio(ratio);
    }
    // Where each piece goes in device pixels, clipped, looked up once per
    // row: the copies below are a few pixels each.
    struct Span {
        const QRgb *bits;
        qsizetype stride;
        int to; // in the row
        int from;
    };
    QVarLengthArray<Span, 256> spans;
    for (const Piece &piece : pieces) {
        const QImage &p = *piece.picture;
        const int x = piece.x * ratio;
        const int from = std::max(0, -x);
        const int to = std::min(p.width(), w - x);
        if (from < to)
            spans.append({reinterpret_cast<const QRgb *>(p.constBits()) + from,
                          p.bytesPerLine() / qsizetype(sizeof(QRgb)), x + to, x + from});
    }
    QRgb *bits = reinterpret_cast<QRgb *>(m_rowPicture.bits());
    const qsizetype stride = m_rowPicture.bytesPerLine() / qsizetype(sizeof(QRgb));
    for (int y = 0; y < h; ++y) {
        QRgb *out = bits + y * stride;
        int done = 0;
        for (const Span &span : spans) {
            if (span.from > done) // pieces come left to right; between them, the ground
                std::fill(out + done, out + span.from, base);
            std::memcpy(out + span.from, span.bits + y * span.stride,
                        size_t(span.to - span.from) * sizeof(QRgb));
            done = span.to;
        }
        if (done < w)
            std::fill(out + done, out + w, base);
    }
    painter.drawImage(QPoint(0, top), m_rowPicture);
    return true;
}

void HistoryView::paintHexRow(QPainter &painter, Batch &batch, const Row &row, int top)
{
    const QPalette &pal = palette();
    const qreal shift = horizontalScrollBar()->value();
    const qreal baseline = top + m_ascent;
    const qreal cw = m_charWidth;
    const QColor muted = pal.color(QPalette::PlaceholderText);
    const QColor text = pal.color(QPalette::Text);
    addText(batch, 0, muted, QPointF(Margin - shift, baseline), offsetText(row.pos));
    if (m_choices.times && row.timeOf >= 0)
        addText(batch, 0, muted, QPointF(Margin - shift + (offsetDigits() + 2) * cw, baseline),
                m_times.timeOfDay(row.timeOf));
    const qreal hexX = hexLeft() - shift;
    const qreal charsX = charsLeft() - shift;

    qint64 selFrom = 0, selTo = 0;
    if (hasSelection()) {
        selFrom = std::min(m_anchor->at, m_cursor->at);
        selTo = std::max(m_anchor->at, m_cursor->at);
    }
    const int lead = int(row.pos % 16);
    for (int i = 0; i < row.bytes.size(); ++i) {
        const int column = lead + i;
        const qint64 pos = row.pos + i;
        const qreal hx = hexX + (column * 3 + (column >= 8 ? 1 : 0)) * cw;
        const qreal cx = charsX + column * cw;
        QColor ground;
        if (pos >= selFrom && pos < selTo)
            ground = pal.color(QPalette::Highlight);
        else if (m_current && m_current->pos >= 0 && pos >= m_current->pos &&
                 pos < m_current->pos + m_current->length)
            ground = CurrentHitColour;
        else {
            for (const auto &[a, b] : row.hits) {
                if (pos >= a && pos < b)
                    ground = HitColour;
            }
        }
        if (ground.isValid()) {
            painter.fillRect(QRectF(hx, top, 2 * cw, m_lineHeight), ground);
            painter.fillRect(QRectF(cx, top, cw, m_lineHeight), ground);
        }
        const uchar b = uchar(row.bytes[i]);
        addText(batch, 0, text, QPointF(hx, baseline), hexByte(b));
        const QChar c = hexColumnChar(b);
        addChar(batch, 0, c == QChar(0x00b7) ? muted : text, QPointF(cx, baseline), c.unicode());
    }
}

void HistoryView::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateBars();
    invalidate();
}

void HistoryView::changeEvent(QEvent *event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        prepareFont();
        updateBars();
    } else if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange) {
        m_pictures.clear();
    }
}

// ---------------------------------------------------------------------------
// Selection, copying and keys.

std::optional<HistoryView::Place> HistoryView::placeAt(const QPoint &point)
{
    planRows();
    if (m_rows.empty())
        return std::nullopt;
    const int index =
        std::clamp((point.y() - Margin - m_rowOffset) / m_lineHeight, 0, int(m_rows.size()) - 1);
    const Row &row = m_rows[size_t(index)];
    const qreal x = point.x() + horizontalScrollBar()->value();
    if (m_choices.hex) {
        int column = x >= charsLeft() ? int((x - charsLeft()) / m_charWidth)
                                      : int((x - hexLeft()) / (3 * m_charWidth));
        column = std::clamp(column, 0, 16);
        const qint64 rowStart = row.pos - row.pos % 16;
        return Place{0, std::clamp(rowStart + column, row.pos, row.pos + row.bytes.size())};
    }
    for (size_t i = 0; i < row.cells.size(); ++i) {
        if (x < (row.x[i] + row.x[i + 1]) / 2)
            return Place{row.line.number, row.cells[i].begin};
    }
    return Place{row.line.number, row.bytes.size()};
}

void HistoryView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return QAbstractScrollArea::mousePressEvent(event);
    // Selecting holds the picture still; End follows again.
    hold();
    const std::optional<Place> place = placeAt(event->position().toPoint());
    if (!place)
        return;
    if (!(event->modifiers() & Qt::ShiftModifier) || !m_anchor)
        m_anchor = place;
    m_cursor = place;
    viewport()->update();
    Q_EMIT stateChanged();
}

void HistoryView::mouseMoveEvent(QMouseEvent *event)
{
    if (!(event->buttons() & Qt::LeftButton) || !m_anchor)
        return QAbstractScrollArea::mouseMoveEvent(event);
    if (const std::optional<Place> place = placeAt(event->position().toPoint())) {
        m_cursor = place;
        viewport()->update();
    }
}

bool HistoryView::hasSelection() const
{
    return m_anchor && m_cursor && *m_anchor != *m_cursor;
}

std::optional<HistoryView::Selection> HistoryView::selection() const
{
    if (!hasSelection())
        return std::nullopt;
    const Place from = std::min(*m_anchor, *m_cursor);
    const Place to = std::max(*m_anchor, *m_cursor);
    Selection s;
    if (m_choices.hex) {
        s.fromPos = from.at;
        s.toPos = to.at;
        s.fromLine = m_log->lineAt(from.at);
        s.toLine = m_log->lineAt(to.at - 1);
    } else {
        s.fromLine = from.line;
        // A selection that ends at the start of a line does not take it.
        s.toLine = to.at == 0 && to.line > from.line ? to.line - 1 : to.line;
        std::tie(s.fromPos, s.toPos) =
            HistoryExport::receivedRange(*m_log, s.fromLine, s.toLine + 1);
    }
    return s;
}

void HistoryView::selectAll()
{
    hold();
    if (m_choices.hex) {
        m_anchor = Place{0, m_log->receivedBegin()};
        m_cursor = Place{0, m_log->receivedEnd()};
    } else {
        const qint64 last = m_log->endLine() - 1;
        m_anchor = Place{m_log->beginLine(), 0};
        m_cursor = Place{last, m_log->line(last).length + 1};
        // A marker's text is longer than its record says nothing about.
        m_cursor->at = std::numeric_limits<int>::max();
    }
    viewport()->update();
    Q_EMIT stateChanged();
}

QString HistoryView::rowText(const Row &row, qint64 from, qint64 to) const
{
    QString text;
    if (m_choices.hex) {
        text = offsetText(row.pos) + QStringLiteral("  ");
        if (m_choices.times)
            text +=
                (row.timeOf >= 0 ? m_times.timeOfDay(row.timeOf) : QString(12, QLatin1Char(' '))) +
                QStringLiteral("  ");
        QString hex, chars;
        const int lead = int(row.pos % 16);
        for (int column = 0; column < 16; ++column) {
            const int i = column - lead;
            const qint64 pos = row.pos + i;
            const bool in = i >= 0 && i < row.bytes.size() && pos >= from && pos < to;
            hex += in ? hexByte(uchar(row.bytes[i])) : QStringLiteral("  ");
            hex += column == 7 ? QStringLiteral("  ") : QStringLiteral(" ");
            chars += in ? hexColumnChar(uchar(row.bytes[i])) : QChar(QLatin1Char(' '));
        }
        while (chars.endsWith(QLatin1Char(' ')))
            chars.chop(1);
        return text + hex + QLatin1Char(' ') + chars;
    }
    const HistoryLine &line = row.line;
    if (m_choices.times && from == 0 && !line.continued())
        text += m_times.timeOfDay(line.time) + QStringLiteral("  ");
    if (line.kind == HistoryLine::Marker)
        return text + QString::fromUtf8(row.bytes);
    if (line.kind == HistoryLine::Sent && from == 0)
        text += QStringLiteral("→ ");
    for (const Cell &cell : row.cells) {
        if (cell.begin >= from && cell.begin < to)
            appendCopyText(cell, text);
    }
    return text;
}

QStringList HistoryView::rowsInSight()
{
    planRows();
    QStringList rows;
    for (const Row &row : m_rows)
        rows.append(rowText(row, 0, std::numeric_limits<qint64>::max()));
    return rows;
}

QString HistoryView::selectedText() const
{
    const std::optional<Selection> s = selection();
    if (!s)
        return {};
    QStringList out;
    qint64 size = 0;
    if (m_choices.hex) {
        if (s->toPos - s->fromPos > MaxCopyBytes / 4)
            return {};
        const QByteArray bytes = m_log->received(s->fromPos, s->toPos);
        std::vector<HistoryLine> lines;
        for (qint64 p = s->fromPos - s->fromPos % 16; p < s->toPos; p += 16) {
            Row row;
            row.pos = std::max(p, s->fromPos);
            row.bytes = bytes.sliced(row.pos - s->fromPos, std::min(p + 16, s->toPos) - row.pos);
            const qint64 n = m_log->lineAt(row.pos);
            row.timeOf = n >= 0 ? m_log->line(n).time : -1;
            out.append(rowText(row, s->fromPos, s->toPos));
        }
        return out.join(QLatin1Char('\n'));
    }
    const Place from = std::min(*m_anchor, *m_cursor);
    const Place to = std::max(*m_anchor, *m_cursor);
    if (to.line - from.line >= MaxCopyLines)
        return {};
    for (qint64 n = from.line; n <= to.line; n += 1024) {
        const std::vector<HistoryLine> lines =
            m_log->lines(n, std::min<qint64>(1024, to.line + 1 - n));
        const std::vector<QByteArray> contents = m_log->contents(lines);
        for (size_t i = 0; i < lines.size(); ++i) {
            if (lines[i].kind == HistoryLine::Sent && !m_choices.sent)
                continue;
            Row row;
            row.line = lines[i];
            row.bytes = contents[i];
            TextStyle style;
            if (row.line.kind != HistoryLine::Marker)
                decodeLine(row.bytes, m_choices.decode, style, row.cells);
            const qint64 a = row.line.number == from.line ? from.at : 0;
            const qint64 b =
                row.line.number == to.line ? to.at : std::numeric_limits<qint64>::max();
            if (row.line.number == to.line && b == 0 && to.line > from.line)
                continue;
            out.append(rowText(row, a, b));
            size += out.last().size();
            if (size > MaxCopyBytes)
                return {};
        }
    }
    return out.join(QLatin1Char('\n'));
}

void HistoryView::copy()
{
    if (!hasSelection())
        return;
    const QString text = selectedText();
    if (text.isEmpty()) {
        Q_EMIT message(QStringLiteral("Die Auswahl ist zu groß zum Kopieren; „Speichern unter…“ "
                                      "schreibt sie in eine Datei."));
        return;
    }
    QApplication::clipboard()->setText(text);
}

void HistoryView::keyPressEvent(QKeyEvent *event)
{
    if (event == QKeySequence::Copy)
        return copy();
    if (event == QKeySequence::SelectAll)
        return selectAll();
    QScrollBar *bar = verticalScrollBar();
    switch (event->key()) {
    case Qt::Key_End:
        return follow();
    case Qt::Key_Home:
        return toStart();
    case Qt::Key_Up:
        return bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
    case Qt::Key_Down:
        return bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    case Qt::Key_PageUp:
        return bar->triggerAction(QAbstractSlider::SliderPageStepSub);
    case Qt::Key_PageDown:
        return bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
    case Qt::Key_Escape:
        m_anchor = m_cursor = std::nullopt;
        viewport()->update();
        return;
    default:
        return QAbstractScrollArea::keyPressEvent(event);
    }
}
