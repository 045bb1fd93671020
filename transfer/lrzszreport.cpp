#include "lrzszreport.h"

#include <QRegularExpression>

void LrzszReport::feed(QByteArrayView bytes)
{
    // lrzsz rewrites its progress line with CR, and ends other lines with LF.
    for (char c : bytes) {
        if (c == '\r' || c == '\n') {
            if (!m_partial.trimmed().isEmpty())
                line(m_partial.trimmed());
            m_partial.clear();
        } else if (m_partial.size() < 1024) {
            m_partial.append(c);
        }
    }
}

void LrzszReport::line(const QByteArray &bytes)
{
    static const QRegularExpression bytesDone(
        QStringLiteral(R"(^Bytes (?:Sent|received):\s*(\d+)(?:/\s*(\d+))?)"));
    static const QRegularExpression sectors(QStringLiteral(R"(sectors/kbytes sent:\s*(\d+)/)"));
    static const QRegularExpression blocks(QStringLiteral(R"(^Blocks received:\s*(\d+))"));
    static const QRegularExpression naming(QStringLiteral(R"(^(?:Sending|Receiving):?\s+(.+)$)"));
    static const QRegularExpression trouble(
        QStringLiteral(R"(retry|timeout|crc|garbage|sync|nak|bad)"),
        QRegularExpression::CaseInsensitiveOption);
    const QString text = QString::fromLocal8Bit(bytes);
    if (const auto m = bytesDone.match(text); m.hasMatch()) {
        m_done = m.captured(1).toLongLong();
        if (m.hasCaptured(2))
            m_total = m.captured(2).toLongLong();
        return;
    }
    if (const auto m = sectors.match(text); m.hasMatch()) {
        m_done = m.captured(1).toLongLong() * 128;
        return;
    }
    if (const auto m = blocks.match(text); m.hasMatch()) {
        m_blocks = m.captured(1).toLongLong();
        return;
    }
    if (const auto m = naming.match(text); m.hasMatch()) {
        QString name = m.captured(1);
        // "Sending f.bin, 781 blocks: Give your local XMODEM receive command now."
        const qsizetype comma = name.lastIndexOf(QStringLiteral(", "));
        if (comma > 0 && name.contains(QStringLiteral("blocks")))
            name.truncate(comma);
        m_fileName = name;
    }
    if (trouble.match(text).hasMatch())
        ++m_retries;
    if (text.contains(QStringLiteral("cancel"), Qt::CaseInsensitive) ||
        text.contains(QStringLiteral("ZCAN")))
        m_cancelled = true;
    if (text.contains(QStringLiteral("No space"), Qt::CaseInsensitive) ||
        text.contains(QStringLiteral("too large"), Qt::CaseInsensitive) ||
        text.contains(QStringLiteral("write"), Qt::CaseInsensitive))
        m_writeFailed = true;
    m_lastWord = text;
}
