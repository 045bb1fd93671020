#pragma once

#include "historystore.h"
#include "linedecoder.h"

#include <QString>

#include <functional>
#include <limits>

// Local times as the history shows them, quick enough for every line of a
// saved gigabyte: the offset from UTC is asked for once per quarter hour.
class TimeText
{
public:
    QString timeOfDay(qint64 msecs);   // "14:03:07.125"
    QString dateAndTime(qint64 msecs); // "2026-12-06 14:03:07.125"

private:
    qint64 localMsecs(qint64 msecs);
    qint64 m_block = std::numeric_limits<qint64>::min();
    qint64 m_offset = 0;
};

// A line as a copied or saved text shows it: boxed bytes by their name in
// angle brackets, hidden sequences left out, a sent command after "→ ", a
// marker as its text.
QString lineText(const HistoryLine &line, const QByteArray &content, const DecodeOptions &options);
// The same of the line's cells as decoded already (a view may show some of
// its hidden sequences): of those that begin in bytes [from, to), the arrow
// only with the line's start. cellOf, when given, gets the cell each
// character of the text stands for, -1 for the arrow and a marker's text.
QString lineText(const HistoryLine &line, const QByteArray &content, const std::vector<Cell> &cells,
                 qint64 from = 0, qint64 to = std::numeric_limits<qint64>::max(),
                 std::vector<int> *cellOf = nullptr);

// Saving the history, on a worker thread. Progress as for a search; an
// error text, empty when the file was written.
namespace HistoryExport
{
using Progress = std::function<bool(double)>;
// The received stream bytes of lines [from, to): from the first received
// line's first byte to the end of the last one's line end.
std::pair<qint64, qint64> receivedRange(const HistoryLog &log, qint64 from, qint64 to);
QString saveBytes(const HistoryLog &log, qint64 from, qint64 to, const QString &path,
                  const Progress &progress = {});
// Lines [from, to), each after its date and time; the pieces of a long line
// joined again. Sent commands only when sentLines.
QString saveText(const HistoryLog &log, qint64 from, qint64 to, const DecodeOptions &options,
                 bool sentLines, const QString &path, const Progress &progress = {});
} // namespace HistoryExport
