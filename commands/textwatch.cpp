#include "textwatch.h"

#include "codepage.h"

QString TextWatch::check(const QString &pattern, bool regex)
{
    if (pattern.isEmpty())
        return QStringLiteral("Der gesuchte Text ist leer.");
    if (!regex)
        return {};
    const QRegularExpression expression(pattern);
    if (!expression.isValid())
        return QStringLiteral("Der reguläre Ausdruck „%1“ ist fehlerhaft: %2 (an Stelle %3).")
            .arg(pattern, expression.errorString())
            .arg(expression.patternErrorOffset() + 1);
    // One that matches nothing at all would be met by every piece.
    if (expression.match(QString()).hasMatch())
        return QStringLiteral("Der reguläre Ausdruck „%1“ passt schon auf einen leeren Text.")
            .arg(pattern);
    return {};
}

TextWatch::TextWatch(const QString &pattern, bool regex, qsizetype kept)
    : m_pattern(pattern), m_regex(regex), m_kept(kept),
      m_expression(regex ? pattern : QString(), QRegularExpression::DontCaptureOption)
{
}

qsizetype TextWatch::matchEnd(qsizetype from) const
{
    if (m_pattern.isEmpty())
        return -1;
    if (m_regex) {
        const QRegularExpressionMatch m = m_expression.match(m_seen);
        return m.hasMatch() ? m.capturedEnd() : -1;
    }
    const qsizetype at = m_seen.indexOf(m_pattern, from);
    return at < 0 ? -1 : at + m_pattern.size();
}

bool TextWatch::feed(QByteArrayView bytes)
{
    const qsizetype before = m_seen.size();
    m_seen += textFromBytes(bytes);
    // Only a match that takes some of the new bytes is new; a plain text can
    // begin at most its length less one before them.
    const qsizetype end = matchEnd(std::max<qsizetype>(0, before - m_pattern.size() + 1));
    if (end >= 0) {
        m_seen.remove(0, end);
        return true;
    }
    if (m_seen.size() > m_kept)
        m_seen.remove(0, m_seen.size() - m_kept / 2);
    return false;
}

bool TextWatch::matchesKept()
{
    const qsizetype end = matchEnd(0);
    if (end < 0)
        return false;
    m_seen.remove(0, end);
    return true;
}
