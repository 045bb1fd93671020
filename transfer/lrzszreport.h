#pragma once

#include <QByteArray>
#include <QString>

// What lrzsz writes to its error output while it works (with -vv): the
// progress lines ("Bytes Sent: 1024/ 100000", "Bytes received: …",
// "Xmodem sectors/kbytes sent: 8/ 1k", "Blocks received: 3"), the file it is
// on, retries and its last other word, read as it comes in pieces.
class LrzszReport
{
public:
    void feed(QByteArrayView bytes);

    // Bytes of the file done and its size, -1 where lrzsz did not say.
    qint64 done() const { return m_done; }
    qint64 total() const { return m_total; }
    qint64 blocks() const { return m_blocks; }
    int retries() const { return m_retries; }
    // The last line that is not a progress line.
    const QString &lastWord() const { return m_lastWord; }
    // The file lrzsz says it is sending or receiving.
    const QString &fileName() const { return m_fileName; }
    bool farEndCancelled() const { return m_cancelled; }
    bool writeFailed() const { return m_writeFailed; }

private:
    void line(const QByteArray &text);

    QByteArray m_partial;
    qint64 m_done = -1;
    qint64 m_total = -1;
    qint64 m_blocks = 0;
    int m_retries = 0;
    QString m_lastWord;
    QString m_fileName;
    bool m_cancelled = false;
    bool m_writeFailed = false;
};
