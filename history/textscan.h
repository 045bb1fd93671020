#pragma once

#include "historyline.h"
#include "historysearch.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringMatcher>

#include <functional>
#include <optional>
#include <vector>

class ByteFilter;

// The walk of a text search through the lines in order: each line's hits,
// and for a piece that goes on from the one before, the hits across the
// cut. A line that cannot show the pattern is passed without decoding; its
// text is made only when the next piece goes on from it.
class TextScan
{
public:
    using OnHit = std::function<bool(const SearchHit &)>;
    // Hits in lines before `from` are not told.
    TextScan(const SearchPattern &pattern, qint64 from, const OnHit &onHit);

    // A line searched in the characters it shows; false when told to stop.
    bool take(const HistoryLine &line, QByteArrayView bytes);
    // A received line, not a continued piece, that shows its bytes one
    // character each, the pattern ASCII only: its hits are where the
    // pattern's bytes are.
    bool takeBytes(const HistoryLine &line, QByteArrayView bytes, const ByteFilter &filter);
    // A received line, not a continued piece, with no hit of its own beyond
    // `at`, where its last one ended.
    void pass(const HistoryLine &line, QByteArrayView bytes, qsizetype at = 0);
    // The bytes read go: a passed line keeps a copy of its own.
    void keepPending();

private:
    struct Pending {
        HistoryLine line;
        QByteArrayView bytes;
        QByteArray owned;
        qsizetype at = 0;
    };

    void keepCarry(const HistoryLine &line, QByteArrayView bytes, qsizetype at);
    void carryPending();

    const QStringMatcher m_matcher;
    const qsizetype m_length;
    const DecodeOptions m_decode;
    const qint64 m_from;
    const OnHit &m_onHit;
    // What is left of the received line before after its last hit: its last
    // characters, that a hit across the cut to the next piece can begin with.
    struct {
        QString text;
        std::vector<int> byteOf;
        qint64 line = -1;
        qint64 length = 0;
    } m_carry;
    std::optional<Pending> m_pending;
    QString m_text, m_combined;
    std::vector<int> m_byteOf;
};
