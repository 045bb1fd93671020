#include "historyrow.h"

#include "codepage.h"

#include <algorithm>

void HistoryRows::readHex(const HistoryLog &log, qint64 from, qint64 to, TimeText &times,
                          std::vector<HistoryRow> &rows)
{
    qint64 start = from;
    const QByteArray data = log.received(from, to, &start);
    if (data.isEmpty())
        return;
    const qint64 firstLine = log.lineAt(start);
    const qint64 lastLine = log.lineAt(start + data.size() - 1);
    std::vector<HistoryLine> lines;
    if (firstLine >= 0 && lastLine >= firstLine)
        lines = log.lines(firstLine, lastLine - firstLine + 1);
    std::erase_if(lines, [](const HistoryLine &l) { return l.kind != HistoryLine::Received; });
    size_t k = 0;
    for (qint64 pos = start; pos < start + data.size();) {
        HistoryRow row;
        row.pos = pos;
        const qint64 end = std::min(start + data.size(), (pos / HexRowBytes + 1) * HexRowBytes);
        row.bytes = data.sliced(pos - start, end - pos);
        while (k + 1 < lines.size() && lines[k + 1].pos <= pos)
            ++k;
        if (k < lines.size() && lines[k].pos <= pos) {
            row.line = lines[k];
            row.time = times.timeOfDay(lines[k].time);
        }
        rows.push_back(std::move(row));
        pos = end;
    }
}

QString HistoryRows::textRow(const HistoryRow &row, const QString &time, qint64 from, qint64 to,
                             std::vector<int> *cellOf)
{
    QString text;
    if (!time.isEmpty() && from == 0 && !row.line.continued())
        text = time + QStringLiteral("  ");
    return text + lineText(row.line, row.bytes, row.cells, from, to, cellOf);
}

QString HistoryRows::hexRow(const HistoryRow &row, int offsetDigits, bool times, qint64 from,
                            qint64 to)
{
    QString text = offset(row.pos, offsetDigits) + QStringLiteral("  ");
    if (times)
        text +=
            (row.time.isEmpty() ? QString(12, QLatin1Char(' ')) : row.time) + QStringLiteral("  ");
    QString hex, chars;
    const int lead = int(row.pos % HexRowBytes);
    for (int column = 0; column < HexRowBytes; ++column) {
        const int i = column - lead;
        const qint64 pos = row.pos + i;
        const bool in = i >= 0 && i < row.bytes.size() && pos >= from && pos < to;
        hex += in ? hexDigits(uchar(row.bytes[i])) : QStringLiteral("  ");
        hex += column == HexRowBytes / 2 - 1 ? QStringLiteral("  ") : QStringLiteral(" ");
        chars += in ? columnChar(uchar(row.bytes[i])) : QChar(QLatin1Char(' '));
    }
    while (chars.endsWith(QLatin1Char(' ')))
        chars.chop(1);
    return text + hex + QLatin1Char(' ') + chars;
}

QString HistoryRows::offset(qint64 pos, int digits)
{
    return QString::number(pos - pos % HexRowBytes, 16)
        .toUpper()
        .rightJustified(digits, QLatin1Char('0'));
}

QString HistoryRows::hexDigits(uchar byte)
{
    static const char digits[] = "0123456789ABCDEF";
    const QChar pair[2] = {QLatin1Char(digits[byte >> 4]), QLatin1Char(digits[byte & 15])};
    return QString(pair, 2);
}

QChar HistoryRows::columnChar(uchar byte)
{
    const QChar c = charFromByte(byte);
    return byte < 0x20 || byte == 0x7f || (c.unicode() >= 0x80 && c.unicode() <= 0xa0) ||
                   byte == 0xad
               ? QChar(0x00b7)
               : c;
}
