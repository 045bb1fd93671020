#include "bytefilter.h"

#include "codepage.h"
#include "sequences.h"

#include <QChar>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace
{

constexpr char Esc = 0x1b;

// The characters beyond ASCII that fold to an ASCII one, as a search with
// case ignored compares them: the Kelvin sign to k, the long s to s.
const std::vector<char16_t> &foldingToAscii()
{
    static const std::vector<char16_t> characters = [] {
        std::vector<char16_t> found;
        for (char32_t c = 0x80; c <= 0xffff; ++c) {
            if (!QChar::isSurrogate(c) && QChar::toCaseFolded(c) < 0x80)
                found.push_back(char16_t(c));
        }
        return found;
    }();
    return characters;
}

uchar foldByte(uchar c)
{
    return uchar(c - 'A') < 26 ? c | 0x20 : c;
}

bool isAscii(QByteArrayView bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return uchar(c) < 0x80; });
}

// Sixteen bytes compared at once: the compiler gives each processor its own
// instructions for it, or plain code where it has none.
using Bytes16 = uchar __attribute__((vector_size(16)));

// Where `needle` is in `haystack` from `from` on, -1 when nowhere; `fold`:
// capitals count as the small letters the needle has. Sixteen places at a
// time are ruled out by their first and last byte, as fast for a needle of
// two bytes as for a long one; the few left are compared whole.
qsizetype find(QByteArrayView haystack, qsizetype from, const QByteArray &needle, bool fold)
{
    const auto *p = reinterpret_cast<const uchar *>(haystack.data());
    const auto *q = reinterpret_cast<const uchar *>(needle.constData());
    const qsizetype n = haystack.size(), m = needle.size();
    Q_ASSERT(m > 0);
    auto matches = [&](qsizetype at) {
        if (!fold)
            return std::memcmp(p + at, q, size_t(m)) == 0;
        for (qsizetype k = 0; k < m; ++k) {
            if (foldByte(p[at + k]) != q[k])
                return false;
        }
        return true;
    };
    // With case ignored a letter's capital differs from it in 0x20 alone.
    auto letterBit = [fold](uchar c) { return uchar(fold && c >= 'a' && c <= 'z' ? 0x20 : 0); };
    const Bytes16 first = Bytes16{} + q[0], last = Bytes16{} + q[m - 1];
    const Bytes16 firstBit = Bytes16{} + letterBit(q[0]), lastBit = Bytes16{} + letterBit(q[m - 1]);
    qsizetype at = from;
    for (; at + m - 1 + 16 <= n; at += 16) {
        Bytes16 a, b;
        std::memcpy(&a, p + at, 16);
        std::memcpy(&b, p + at + m - 1, 16);
        const auto both = ((a | firstBit) == first) & ((b | lastBit) == last);
        quint64 halves[2];
        std::memcpy(halves, &both, 16);
        if (!(halves[0] | halves[1]))
            continue;
        for (int k = 0; k < 16; ++k) {
            if (both[k] && matches(at + k))
                return at + k;
        }
    }
    for (; at + m <= n; ++at) {
        if (matches(at))
            return at;
    }
    return -1;
}

} // namespace

ByteFilter::ByteFilter(QStringView pattern, Qt::CaseSensitivity cs, const DecodeOptions &options)
    : m_fold(cs == Qt::CaseInsensitive), m_colours(options.colours)
{
    // The longest run of ASCII characters.
    bool ascii = true;
    for (qsizetype i = 0; i < pattern.size();) {
        const char16_t u = pattern[i].unicode();
        ascii = ascii && u < 0x80;
        // Case ignored, a text's character matches when both fold alike:
        // an ASCII one folds to ASCII.
        m_beyondAscii = m_beyondAscii || (u >= 0x80 && !(m_fold && QChar::toCaseFolded(u) < 0x80));
        qsizetype end = i;
        while (end < pattern.size() && pattern[end].unicode() < 0x80)
            ++end;
        if (end - i > m_run.size())
            m_run = pattern.sliced(i, end - i).toLatin1();
        i = std::max(end, i + 1);
    }
    if (ascii)
        m_whole = pattern.toLatin1();
    if (!m_fold)
        return;
    for (QByteArray *bytes : {&m_run, &m_whole})
        std::transform(bytes->begin(), bytes->end(), bytes->begin(),
                       [](char c) { return char(foldByte(uchar(c))); });
    // How the characters that match one of the run's letters beyond ASCII
    // come in, in the character sets the lines may be read in.
    for (const char16_t c : foldingToAscii()) {
        if (!m_run.contains(char(QChar::toCaseFolded(c))))
            continue;
        if (options.charset != Charset::Windows1252)
            m_otherSpellings.push_back(QString(QChar(c)).toUtf8());
        for (int b = 0x80; b < 0x100 && options.charset != Charset::Utf8; ++b) {
            if (charFromByte(uchar(b)) == QChar(c))
                m_otherSpellings.push_back(QByteArray(1, char(b)));
        }
    }
}

qsizetype ByteFilter::find(QByteArrayView bytes, qsizetype from, const QByteArray &needle) const
{
    return ::find(bytes, from, needle, m_fold);
}

qsizetype ByteFilter::findBeyondAscii(QByteArrayView bytes, qsizetype from)
{
    const auto *p = reinterpret_cast<const uchar *>(bytes.data());
    const qsizetype n = bytes.size();
    qsizetype at = from;
    for (; at + 16 <= n; at += 16) {
        Bytes16 a;
        std::memcpy(&a, p + at, 16);
        const Bytes16 high = a & 0x80;
        quint64 halves[2];
        std::memcpy(halves, &high, 16);
        if (halves[0] | halves[1])
            break;
    }
    for (; at < n; ++at) {
        if (p[at] >= 0x80)
            return at;
    }
    return -1;
}

quint8 ByteFilter::marksOf(QByteArrayView line) const
{
    quint8 marks = 0;
    if (findRun(line, 0) >= 0)
        marks |= HoldsRun;
    if (m_colours && line.contains(Esc))
        marks |= HasEsc;
    for (const QByteArray &spelling : m_otherSpellings) {
        if (find(line, 0, spelling) >= 0)
            marks |= OtherSpelling;
    }
    if (findBeyondAscii(line, 0) >= 0)
        marks |= BeyondAscii;
    return marks;
}

ByteFilter::Reading ByteFilter::reading(QByteArrayView line, quint8 marks, QByteArray &buffer) const
{
    if (marks & OtherSpelling)
        return Decoded;
    if (m_beyondAscii && !(marks & BeyondAscii))
        return NotAtAll;
    if (marks & HasEsc) {
        // The bytes as the decoder walks them with colours on: a complete
        // sequence from an ESC is hidden, any other ESC is shown.
        buffer.resize(0);
        for (qsizetype i = 0; i < line.size();) {
            const void *esc = std::memchr(line.data() + i, Esc, size_t(line.size() - i));
            const qsizetype at = esc ? static_cast<const char *>(esc) - line.data() : line.size();
            buffer.append(line.sliced(i, at - i));
            if (at == line.size())
                break;
            const EscapeSequence sequence = escapeAt(line, at);
            if (sequence.state == EscapeSequence::Complete) {
                i = at + sequence.length;
            } else {
                buffer.append(Esc);
                i = at + 1;
            }
        }
        const bool mayShow = (!m_beyondAscii || !isAscii(buffer)) && findRun(buffer, 0) >= 0;
        return mayShow ? Decoded : NotAtAll;
    }
    if (!(marks & HoldsRun))
        return NotAtAll;
    if (marks & BeyondAscii)
        return Decoded;
    return m_whole.isEmpty() ? Decoded : InBytes;
}
