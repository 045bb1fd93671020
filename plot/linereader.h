#pragma once

#include "lineends.h"
#include "lineparser.h"

#include <QByteArray>
#include <QHash>

#include <optional>
#include <vector>

class SeriesStore;

// Takes the received bytes as the port hands them in, with the time they
// came on the history's clock, cuts them into the device's lines by the
// pairing every view uses (LineEnds), reads each line's numbers and puts
// them into the store, one row per plotted line at the time of its first
// byte. Counts every line: received = plotted + rejected + skipped (+ the
// one line held, see below).
//
// The first line after the start or an opening may have begun in the middle
// of what the device sent. When it would bring a new shape (another count
// of numbers, a name not seen before), it is held until the next line with
// values: it is plotted when that one has the same shape (plain numbers: as
// many; names: all of its names), else rejected. So a broken first line
// never makes up a series.
//
// Plain numbers: two lines in a row with as many numbers settle how many a
// line has; any other count is rejected (two lines run together, a lost
// byte). A line of names right before them names the series, else they are
// "1", "2", ….
// Pairs and patterns: a name seen for the first time is a new series (up
// to MostSeries); a line with a name twice is rejected.
class LineReader
{
public:
    struct Counts {
        qint64 received = 0;
        qint64 plotted = 0;
        qint64 rejected = 0;
        qint64 skipped = 0; // no number, a line of names, another kind of text
        qint64 held = 0;    // 0 or 1
        bool operator==(const Counts &) const = default;
    };
    static constexpr qsizetype LongestLine = 4096;
    static constexpr int MostSeries = 1000;

    explicit LineReader(SeriesStore &store);

    // From the next line on; what was settled automatically is forgotten.
    void setChoice(const ReadingChoice &choice);
    const ReadingChoice &choice() const { return m_choice; }
    // The settled choice lines are read by; nullopt while Automatic has not
    // seen a line it reads.
    std::optional<ReadingChoice> settled() const { return m_settled; }
    // The decimal mark of the last plotted line that had one (Automatic
    // while none had).
    DecimalMark lastMark() const { return m_lastMark; }
    QString patternError() const;

    void feed(QByteArrayView bytes, qint64 time);
    // A port was opened: its first CR or LF ends a line, and its first line
    // may be a broken one.
    void sessionStarted();
    // A port was closed: a line it left unfinished ends here, as in the
    // history.
    void sessionEnded();

    Counts counts() const { return m_counts; }
    // Rejected because the series would be more than MostSeries.
    bool tooManySeries() const { return m_tooMany; }

private:
    struct Held {
        QByteArray line;
        qint64 time = 0;
        ReadingChoice choice;
    };
    void lineEnded(QByteArrayView line, qint64 time);
    void take(QByteArrayView line, qint64 time, bool first);
    std::optional<ReadingChoice> choiceFor(QByteArrayView line) const;
    void readWith(const ReadingChoice &choice, QByteArrayView line, LineValues &out);
    bool fits(const LineValues &values) const;
    static bool sameShape(const LineValues &a, const LineValues &b);
    bool plot(const LineValues &values, qint64 time);
    int seriesOf(QByteArrayView name);
    void rejectHeld();

    SeriesStore &m_store;
    ReadingChoice m_choice;
    std::optional<ReadingChoice> m_settled;
    LineParser m_parser;
    LineValues m_values, m_heldValues;
    DecimalMark m_lastMark = DecimalMark::Automatic;

    LineEnds m_ends;
    QByteArray m_line; // the growing line's bytes, up to LongestLine
    bool m_open = false;
    bool m_overlong = false;
    qint64 m_lineTime = 0;
    bool m_first = true;
    std::optional<Held> m_held;
    QByteArray m_lastText; // the line before, when it had no number

    qsizetype m_count = 0;           // plain numbers: the values of a line, once settled
    std::vector<int> m_numberSeries; // their series
    QHash<QByteArray, int> m_named;  // pairs and patterns: names to series
    std::vector<QByteArray> m_lastNames;
    std::vector<int> m_lastSeries;
    bool m_tooMany = false;
    Counts m_counts;
};
