#pragma once

#include <QByteArrayView>
#include <QRegularExpression>
#include <QString>

// Looks for a text, or a regular expression, in received bytes that arrive in
// pieces: what was fed since the last match (or reset) is kept, so a text
// split over two pieces is found when its second part comes. The bytes are
// read as characters of the code page, as the receive box shows them, and
// the text is taken as the command box holds it, control characters
// included.
class TextWatch
{
public:
    // The most kept while nothing matches, by default; the older half goes
    // beyond it. A regular expression looks at all of it with every piece.
    static constexpr qsizetype Kept = 64 * 1024;

    // Why the pattern cannot be looked for, in the operator's words; empty
    // when it can.
    static QString check(const QString &pattern, bool regex);

    TextWatch() = default;
    TextWatch(const QString &pattern, bool regex, qsizetype kept = Kept);

    // Takes received bytes; true when the pattern was found in what was fed
    // since the last match. What came up to the match's end is forgotten.
    bool feed(QByteArrayView bytes);
    // Looks again without taking bytes (after the pattern changed hands).
    bool matchesKept();
    void reset() { m_seen.clear(); }
    const QString &pattern() const { return m_pattern; }
    bool isRegex() const { return m_regex; }

private:
    // Where the match in m_seen ends, looked for from `from`; -1 when none.
    qsizetype matchEnd(qsizetype from) const;

    QString m_pattern;
    bool m_regex = false;
    qsizetype m_kept = Kept;
    QRegularExpression m_expression;
    QString m_seen;
};
