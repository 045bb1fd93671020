#include "historyexport.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QSaveFile>

#include <vector>

namespace
{

constexpr qint64 QuarterHour = 15 * 60 * 1000;
constexpr qint64 Day = 24 * 60 * 60 * 1000;
constexpr qint64 LinesPerRead = 4096;
constexpr qint64 BytesPerRead = qint64(4) << 20;

void appendNumber(QString &out, qint64 value, int digits)
{
    QChar buffer[4];
    for (int i = digits - 1; i >= 0; --i, value /= 10)
        buffer[i] = QLatin1Char(char('0' + value % 10));
    out.append(buffer, digits);
}

QString fileError(const QString &path, const QString &why)
{
    return QStringLiteral("„%1“ kann nicht geschrieben werden: %2")
        .arg(QDir::toNativeSeparators(path), why);
}

} // namespace

qint64 TimeText::localMsecs(qint64 msecs)
{
    const qint64 block = msecs >= 0 ? msecs / QuarterHour : (msecs + 1) / QuarterHour - 1;
    if (block != m_block) {
        m_block = block;
        m_offset =
            qint64(QDateTime::fromMSecsSinceEpoch(block * QuarterHour).offsetFromUtc()) * 1000;
    }
    return msecs + m_offset;
}

QString TimeText::timeOfDay(qint64 msecs)
{
    qint64 local = localMsecs(msecs) % Day;
    if (local < 0)
        local += Day;
    QString out;
    out.reserve(12);
    appendNumber(out, local / 3600000, 2);
    out += QLatin1Char(':');
    appendNumber(out, local / 60000 % 60, 2);
    out += QLatin1Char(':');
    appendNumber(out, local / 1000 % 60, 2);
    out += QLatin1Char('.');
    appendNumber(out, local % 1000, 3);
    return out;
}

QString TimeText::dateAndTime(qint64 msecs)
{
    const qint64 local = localMsecs(msecs);
    const qint64 days = local >= 0 ? local / Day : (local + 1) / Day - 1;
    return QDate::fromJulianDay(days + 2440588).toString(Qt::ISODate) + QLatin1Char(' ') +
           timeOfDay(msecs);
}

QString lineText(const HistoryLine &line, const QByteArray &content, const DecodeOptions &options)
{
    std::vector<Cell> cells;
    if (line.kind != HistoryLine::Marker) {
        TextStyle style;
        decodeLine(content, options, style, cells);
    }
    return lineText(line, content, cells);
}

QString lineText(const HistoryLine &line, const QByteArray &content, const std::vector<Cell> &cells,
                 qint64 from, qint64 to, std::vector<int> *cellOf)
{
    QString text;
    if (line.kind == HistoryLine::Marker)
        text = QString::fromUtf8(content);
    else if (line.kind == HistoryLine::Sent && from == 0)
        text = QStringLiteral("→ ");
    if (cellOf)
        cellOf->assign(size_t(text.size()), -1);
    for (size_t i = 0; i < cells.size(); ++i) {
        if (cells[i].begin < from || cells[i].begin >= to)
            continue;
        appendCopyText(cells[i], text);
        if (cellOf)
            cellOf->resize(size_t(text.size()), int(i));
    }
    return text;
}

std::pair<qint64, qint64> HistoryExport::receivedRange(const HistoryLog &log, qint64 from,
                                                       qint64 to)
{
    from = std::max(from, log.beginLine());
    to = std::min(to, log.endLine());
    for (qint64 n = from; n < to; n += 64) {
        for (const HistoryLine &l : log.lines(n, std::min<qint64>(64, to - n))) {
            if (l.kind != HistoryLine::Received)
                continue;
            // The end: where the first received line after the range starts.
            return {l.pos, log.receivedEndOf(to - 1)};
        }
    }
    return {0, 0};
}

QString HistoryExport::saveBytes(const HistoryLog &log, qint64 from, qint64 to, const QString &path,
                                 const Progress &progress)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return fileError(path, file.errorString());
    from = std::max(from, log.receivedBegin());
    for (qint64 p = from; p < to; p += BytesPerRead) {
        qint64 start = p;
        const QByteArray bytes = log.received(p, std::min(to, p + BytesPerRead), &start);
        if (bytes.isEmpty() || start != p) // dropped while saving, or unreadable
            return fileError(path, QStringLiteral("Diese Daten sind nicht mehr im Verlauf"));
        if (file.write(bytes) != bytes.size())
            return fileError(path, file.errorString());
        if (progress && !progress(double(p - from) / double(to - from))) {
            file.cancelWriting();
            return QStringLiteral("Abgebrochen");
        }
    }
    if (!file.commit())
        return fileError(path, file.errorString());
    return {};
}

QString HistoryExport::saveText(const HistoryLog &log, qint64 from, qint64 to,
                                const DecodeOptions &options, bool sentLines, const QString &path,
                                const Progress &progress)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return fileError(path, file.errorString());
    from = std::max(from, log.beginLine());
    to = std::min(to, log.endLine());
    TimeText times;
    bool afterReceived = false; // a continued piece joins the received one shown before it
    bool first = true;
    QString text;
    for (qint64 n = from; n < to; n += LinesPerRead) {
        text.clear();
        const std::vector<HistoryLine> batch = log.lines(n, std::min(LinesPerRead, to - n));
        const std::vector<QByteArray> contents = log.contents(batch);
        for (size_t i = 0; i < batch.size(); ++i) {
            const HistoryLine &line = batch[i];
            // A saved command's name goes with its sent line.
            if ((line.kind == HistoryLine::Sent || (line.flags & HistoryLine::Remark)) &&
                !sentLines)
                continue;
            const bool joins = line.continued() && afterReceived;
            if (!joins) {
                if (!first)
                    text += QLatin1Char('\n');
                text += times.dateAndTime(line.time) + QStringLiteral("  ");
            }
            first = false;
            text += lineText(line, contents[i], options);
            afterReceived = line.kind == HistoryLine::Received;
        }
        const QByteArray bytes = text.toUtf8();
        if (file.write(bytes) != bytes.size())
            return fileError(path, file.errorString());
        if (progress && !progress(double(n - from) / double(std::max<qint64>(1, to - from)))) {
            file.cancelWriting();
            return QStringLiteral("Abgebrochen");
        }
    }
    if (!first && file.write("\n") != 1)
        return fileError(path, file.errorString());
    if (!file.commit())
        return fileError(path, file.errorString());
    return {};
}
