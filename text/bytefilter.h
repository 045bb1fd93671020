#pragma once

#include "linedecoder.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QStringView>

#include <vector>

// Looking for a text in the characters shown without decoding every line.
// An ASCII character is shown for its own byte and for no other, in
// Windows-1252 and UTF-8 alike, and every other character for bytes above
// 127 (an invalid one as U+FFFD). So wherever a line shows the pattern, a
// run of the pattern's ASCII characters is the same bytes one after another
// in the line, once the escape sequences the colours hide are left out; a
// line without those bytes cannot show the pattern. With case ignored,
// capitals and small letters count alike; and since a few characters beyond
// ASCII match a letter too (the Kelvin sign matches k, the long s matches s),
// a line with their bytes is decoded whatever it holds.
class ByteFilter
{
public:
    ByteFilter(QStringView pattern, Qt::CaseSensitivity cs, const DecodeOptions &options);

    // Whether the pattern has a run to look for; without one every line is
    // decoded.
    bool usable() const { return !m_run.isEmpty(); }

    // What the bytes of a line hold, as far as the pattern goes.
    enum Mark : quint8 {
        HoldsRun = 1,
        HasEsc = 2,        // colours on: decoding may hide some of its bytes
        OtherSpelling = 4, // case ignored: a character beyond ASCII that matches a letter
        BeyondAscii = 8,   // a byte above 127
    };
    // The marks of one line. A search finds them in many lines' bytes at
    // once, with these:
    quint8 marksOf(QByteArrayView line) const;
    qsizetype findRun(QByteArrayView bytes, qsizetype from) const
    {
        return find(bytes, from, m_run);
    }
    qsizetype runLength() const { return m_run.size(); }
    bool hides() const { return m_colours; }
    // With case ignored, the bytes of the characters beyond ASCII that match
    // a letter of the run (the Kelvin sign's E2 84 AA for k), in the
    // character sets the lines may be read in.
    const std::vector<QByteArray> &otherSpellings() const { return m_otherSpellings; }
    // Whether the pattern has a character that no ASCII one matches: then
    // only a line with a byte above 127 can show it.
    bool needsBeyondAscii() const { return m_beyondAscii; }
    static qsizetype findBeyondAscii(QByteArrayView bytes, qsizetype from);
    // Where bytes are, from `from` on, -1 when nowhere; with case ignored
    // capitals count as the small letters of `needle`.
    qsizetype find(QByteArrayView bytes, qsizetype from, const QByteArray &needle) const;

    // How a line with these marks is searched: not at all, when it cannot
    // show the pattern; in its bytes, when it shows each of them as one
    // character and the pattern is ASCII only (findWhole gives the places);
    // or decoded. `buffer` takes a line's bytes without hidden sequences.
    enum Reading : quint8 { NotAtAll, InBytes, Decoded };
    Reading reading(QByteArrayView line, quint8 marks, QByteArray &buffer) const;
    qsizetype findWhole(QByteArrayView line, qsizetype from) const
    {
        return find(line, from, m_whole);
    }
    qsizetype patternLength() const { return m_whole.size(); }

private:
    // With case ignored, their capitals made small.
    QByteArray m_run;
    QByteArray m_whole; // the pattern's bytes; empty unless ASCII only
    bool m_fold = false;
    bool m_colours = true;
    bool m_beyondAscii = false; // a character of the pattern no ASCII one matches
    std::vector<QByteArray> m_otherSpellings;
};
