#include "historyselection.h"

#include <QStringList>

#include <algorithm>

namespace
{

constexpr qint64 MaxCopyLines = 100000;
constexpr qint64 MaxCopyBytes = qint64(16) << 20;
constexpr qint64 CopyStep = 1024; // lines or hex rows between two progress reports

} // namespace

void HistorySelection::select(const Place &anchor, const Place &cursor)
{
    m_anchor = anchor;
    m_cursor = cursor;
}

void HistorySelection::selectAll(const HistoryLog &log, bool hex)
{
    if (hex) {
        select({0, log.receivedBegin()}, {0, log.receivedEnd()});
    } else {
        // To the end of the last line, whatever its kind: a marker's text is
        // longer than its record says.
        select({log.beginLine(), 0}, {log.endLine() - 1, std::numeric_limits<int>::max()});
    }
}

std::optional<HistorySelection::Range> HistorySelection::range(const HistoryLog &log,
                                                               bool hex) const
{
    if (isEmpty())
        return std::nullopt;
    const Place from = std::min(*m_anchor, *m_cursor);
    const Place to = std::max(*m_anchor, *m_cursor);
    Range r;
    if (hex) {
        r.fromPos = from.at;
        r.toPos = to.at;
        r.fromLine = log.lineAt(from.at);
        r.toLine = log.lineAt(to.at - 1);
    } else {
        r.fromLine = from.line;
        // A selection that ends at the start of a line does not take it.
        r.toLine = to.at == 0 && to.line > from.line ? to.line - 1 : to.line;
        std::tie(r.fromPos, r.toPos) = HistoryExport::receivedRange(log, r.fromLine, r.toLine + 1);
    }
    return r;
}

std::pair<qint64, qint64> HistorySelection::in(const HistoryRow &row, bool hex) const
{
    if (isEmpty())
        return {};
    const Place from = std::min(*m_anchor, *m_cursor);
    const Place to = std::max(*m_anchor, *m_cursor);
    if (hex)
        return {from.at, to.at};
    const qint64 n = row.line.number;
    if (n < from.line || n > to.line)
        return {};
    return {n == from.line ? from.at : 0, n == to.line ? to.at : HistoryRows::NoEnd};
}

std::optional<HistorySelection::Copy> HistorySelection::copy(const HistoryChoices &choices,
                                                             int offsetDigits) const
{
    if (isEmpty())
        return std::nullopt;
    return Copy{choices, std::min(*m_anchor, *m_cursor), std::max(*m_anchor, *m_cursor),
                offsetDigits};
}

std::optional<QString> HistorySelection::copyText(const HistoryLog &log, const Copy &copy,
                                                  const HistoryExport::Progress &progress)
{
    const HistoryChoices &choices = copy.choices;
    const Place &from = copy.from;
    const Place &to = copy.to;
    TimeText times;
    QStringList out;
    if (choices.hex) {
        if (to.at - from.at > MaxCopyBytes / 4)
            return std::nullopt;
        std::vector<HistoryRow> rows;
        for (qint64 p = from.at, end = 0; p < to.at; p = end) {
            if (progress && !progress(double(p - from.at) / double(to.at - from.at)))
                return std::nullopt;
            end = std::min(to.at, (p / HexRowBytes + CopyStep) * HexRowBytes);
            rows.clear();
            HistoryRows::readHex(log, p, end, times, rows);
            for (const HistoryRow &row : rows)
                out.append(
                    HistoryRows::hexRow(row, copy.offsetDigits, choices.times, from.at, to.at));
        }
        return out.join(QLatin1Char('\n'));
    }
    if (to.line - from.line >= MaxCopyLines)
        return std::nullopt;
    qint64 size = 0;
    for (qint64 n = from.line; n <= to.line; n += CopyStep) {
        if (progress && !progress(double(n - from.line) / double(to.line + 1 - from.line)))
            return std::nullopt;
        const std::vector<HistoryLine> lines =
            log.lines(n, std::min<qint64>(CopyStep, to.line + 1 - n));
        const std::vector<QByteArray> contents = log.contents(lines);
        for (size_t i = 0; i < lines.size(); ++i) {
            HistoryRow row;
            row.line = lines[i];
            row.bytes = contents[i];
            if (row.line.kind == HistoryLine::Sent && !choices.sent)
                continue;
            const qint64 a = row.line.number == from.line ? from.at : 0;
            const qint64 b = row.line.number == to.line ? to.at : HistoryRows::NoEnd;
            if (row.line.number == to.line && b == 0 && to.line > from.line)
                continue;
            if (row.line.kind != HistoryLine::Marker) {
                TextStyle style;
                decodeLine(row.bytes, choices.decode, style, row.cells);
            }
            out.append(HistoryRows::textRow(
                row, choices.times ? times.timeOfDay(row.line.time) : QString(), a, b));
            size += out.last().size();
            if (size > MaxCopyBytes)
                return std::nullopt;
        }
    }
    return out.join(QLatin1Char('\n'));
}
