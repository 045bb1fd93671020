#pragma once

#include "historylog.h"
#include "linedecoder.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

// What is searched for: a text in the characters shown (the character set
// and colours the history shows), or bytes of the received stream.
struct SearchPattern {
    enum Mode : quint8 { Text, Hex };
    Mode mode = Text;
    QString text;
    QByteArray bytes;
    bool caseSensitive = false;
    DecodeOptions decode;
    bool sentLines = true; // sent commands are searched (while they are shown)

    // "1B 5B 33", "1b5b33", "1B5B 33": the bytes; nothing when the text is
    // not such a list (an odd digit, another character, empty).
    static std::optional<QByteArray> hexBytes(const QString &text);
    bool isEmpty() const { return mode == Text ? text.isEmpty() : bytes.isEmpty(); }
    bool operator==(const SearchPattern &) const = default;
};

// A place found. Text hits start at a byte of a line (a hit may reach into
// the piece after it); hex hits at a position of the received stream, their
// line found when asked for.
struct SearchHit {
    qint64 line = -1;
    qint64 offset = 0; // first byte within the line
    qint64 pos = -1;   // received stream position of the first byte; -1 for other lines
    qint64 length = 0; // bytes
};

// Searching the history: synchronous, for a worker thread or a few lines in
// sight. Progress gets the share done (0 to 1) now and then and answers
// false to stop.
class HistorySearch
{
public:
    using Progress = std::function<bool(double)>;
    // How a text is looked for: in the bytes first, decoding only the lines
    // that may hold it, or by decoding every line, as a pattern without an
    // ASCII character is searched. Both find exactly the same.
    enum class TextReading : quint8 { BytesFirst, DecodeAll };
    HistorySearch(std::shared_ptr<const HistoryLog> log, SearchPattern pattern,
                  TextReading reading = TextReading::BytesFirst);

    // Hits that end in lines [from, to): a text hit across two pieces counts
    // for the later one; a hex hit counts for the line its first byte is in.
    // Calls onHit for each in order until it answers false. Answers false
    // when stopped by progress.
    bool scan(qint64 from, qint64 to, const std::function<bool(const SearchHit &)> &onHit,
              const Progress &progress = {}) const;
    qint64 count(qint64 from, qint64 to, const Progress &progress = {}) const;
    std::vector<SearchHit> hitsIn(qint64 from, qint64 to) const;
    // The nearest hit after (or before) a place: a line and a byte in it, or
    // for hex a stream position. Nothing when there is none or when stopped.
    std::optional<SearchHit> next(const SearchHit &from, bool forward,
                                  const Progress &progress = {}) const;
    // Fills in the line of a hex hit.
    SearchHit located(SearchHit hit) const;

    const SearchPattern &pattern() const { return m_pattern; }

private:
    bool scanText(qint64 from, qint64 to, const std::function<bool(const SearchHit &)> &onHit,
                  const Progress &progress) const;
    bool scanBytes(qint64 from, qint64 to, const std::function<bool(const SearchHit &)> &onHit,
                   const Progress &progress) const;
    std::shared_ptr<const HistoryLog> m_log;
    SearchPattern m_pattern;
    TextReading m_reading;
};
