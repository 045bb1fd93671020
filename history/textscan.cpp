#include "textscan.h"

#include "bytefilter.h"
#include "linedecoder.h"

#include <algorithm>

namespace
{

// Each character's first byte in the UTF-8 of a marker's text.
void utf8Offsets(const QString &text, std::vector<int> &byteOf)
{
    byteOf.clear();
    int at = 0;
    for (const QChar c : text) {
        byteOf.push_back(at);
        at += c.unicode() < 0x80 ? 1 : c.unicode() < 0x800 ? 2 : c.isSurrogate() ? 2 : 3;
    }
}

} // namespace

TextScan::TextScan(const SearchPattern &pattern, qint64 from, const OnHit &onHit)
    : m_matcher(pattern.text, pattern.caseSensitive ? Qt::CaseSensitive : Qt::CaseInsensitive),
      m_length(pattern.text.size()), m_decode(pattern.decode), m_from(from), m_onHit(onHit)
{
}

bool TextScan::take(const HistoryLine &line, QByteArrayView bytes)
{
    if (line.continued())
        carryPending();
    m_pending.reset();
    if (line.kind == HistoryLine::Marker) {
        m_text = QString::fromUtf8(bytes);
        utf8Offsets(m_text, m_byteOf);
    } else {
        shownText(bytes, m_decode, m_text, &m_byteOf);
    }
    const qsizetype m = m_length;
    const bool joins = line.continued() && m_carry.line >= 0;
    const qsizetype prefix = joins ? m_carry.text.size() : 0;
    if (joins) {
        m_combined = m_carry.text;
        m_combined += m_text;
    }
    const QString &where = joins ? m_combined : m_text;
    auto byteAt = [&](qsizetype i) {
        return i >= m_text.size() ? qint64(bytes.size()) : qint64(m_byteOf[size_t(i)]);
    };
    qsizetype at = 0;
    for (qsizetype k; (k = m_matcher.indexIn(where, at)) >= 0; at = k + m) {
        SearchHit hit;
        const qint64 end = byteAt(k + m - prefix);
        if (k < prefix) {
            hit.line = m_carry.line;
            hit.offset = m_carry.byteOf[size_t(k)];
            hit.length = m_carry.length - hit.offset + end;
        } else {
            hit.line = line.number;
            hit.offset = byteAt(k - prefix);
            hit.length = end - hit.offset;
        }
        if (line.kind == HistoryLine::Received)
            hit.pos = (k < prefix ? line.pos - m_carry.length : line.pos) + hit.offset;
        if (line.number >= m_from && !m_onHit(hit))
            return false;
    }
    m_carry.line = -1;
    if (line.kind == HistoryLine::Received)
        keepCarry(line, bytes, std::max(at - prefix, qsizetype(0)));
    return true;
}

bool TextScan::takeBytes(const HistoryLine &line, QByteArrayView bytes, const ByteFilter &filter)
{
    const qsizetype m = filter.patternLength();
    qsizetype at = 0;
    for (qsizetype k; (k = filter.findWhole(bytes, at)) >= 0; at = k + m) {
        if (line.number >= m_from && !m_onHit({line.number, k, line.pos + k, m}))
            return false;
    }
    pass(line, bytes, at);
    return true;
}

void TextScan::pass(const HistoryLine &line, QByteArrayView bytes, qsizetype at)
{
    m_carry.line = -1;
    m_pending = Pending{line, bytes, {}, at};
}

void TextScan::keepPending()
{
    if (m_pending && m_pending->owned.isEmpty()) {
        m_pending->owned = m_pending->bytes.toByteArray();
        m_pending->bytes = m_pending->owned;
    }
}

void TextScan::keepCarry(const HistoryLine &line, QByteArrayView bytes, qsizetype at)
{
    if (m_length <= 1)
        return;
    const qsizetype keep = std::max({at, m_text.size() - (m_length - 1), qsizetype(0)});
    m_carry.text = m_text.sliced(keep);
    m_carry.byteOf.assign(m_byteOf.begin() + keep, m_byteOf.end());
    m_carry.line = line.number;
    m_carry.length = bytes.size();
}

void TextScan::carryPending()
{
    if (!m_pending || m_length <= 1)
        return;
    shownText(m_pending->bytes, m_decode, m_text, &m_byteOf);
    keepCarry(m_pending->line, m_pending->bytes, m_pending->at);
}
