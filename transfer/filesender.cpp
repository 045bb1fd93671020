#include "filesender.h"

#include "kavroerror.h"

#include <cerrno>

namespace
{
constexpr qint64 ReadPiece = 64 * 1024;
// Handed to the line at once when no pause is asked for.
constexpr qsizetype BytesPiece = 16 * 1024;
// While the line is full, it is asked again this often.
constexpr int FullLineMs = 2;

QString quoted(const QString &text)
{
    return QStringLiteral("„%1“").arg(text);
}
} // namespace

FileSender::FileSender(TransferLine &line, QObject *parent) : QObject(parent), m_line(line)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &FileSender::step);
    m_promptTimer.setSingleShot(true);
    connect(&m_promptTimer, &QTimer::timeout, this, [this] {
        finish(false, QStringLiteral("Die Gegenstelle hat nach Zeile %1 nicht mit %2 geantwortet "
                                     "(%3 ms gewartet).")
                          .arg(m_lines)
                          .arg(quoted(QString::fromLatin1(m_choice.prompt)))
                          .arg(m_choice.promptTimeoutMs));
    });
}

void FileSender::start(const QString &path, const Choice &choice)
{
    m_choice = choice;
    m_file.setFileName(path);
    m_pending.clear();
    m_pendingAt = 0;
    m_out.clear();
    m_outAt = 0;
    m_lastWasCr = false;
    m_atEnd = false;
    m_waitingPrompt = false;
    m_watching = false;
    m_pauseNext = false;
    m_lines = 0;
    m_progress = {};
    m_running = true;
    errno = 0;
    if (!m_file.open(QIODevice::ReadOnly)) {
        const int err = errno ? errno : ENOENT;
        QTimer::singleShot(0, this, [this, path, err] {
            finish(false, QStringLiteral("Die Datei %1 kann nicht gelesen werden: %2.")
                              .arg(quoted(path), fileFailure(err).description));
        });
        return;
    }
    m_progress.total = m_file.size();
    m_reported.start();
    m_timer.start(0);
}

void FileSender::cancel(const QString &why)
{
    if (m_running)
        finish(false, why, true);
}

void FileSender::take(QByteArrayView received)
{
    if (!m_watching)
        return;
    // The prompt may be cut across pieces: only what could begin it is kept.
    m_seen.append(received);
    if (m_seen.contains(m_choice.prompt)) {
        m_watching = false;
        m_seen.clear();
        if (m_waitingPrompt) {
            m_waitingPrompt = false;
            m_promptTimer.stop();
            m_timer.start(m_choice.lineDelayMs);
        }
        return;
    }
    m_seen = m_seen.right(m_choice.prompt.size() - 1);
}

bool FileSender::fillPending()
{
    if (m_pendingAt < m_pending.size())
        return true;
    if (m_atEnd)
        return false;
    m_pending = m_file.read(ReadPiece);
    m_pendingAt = 0;
    if (m_pending.isEmpty()) {
        if (m_file.error() != QFileDevice::NoError) {
            finish(false, QStringLiteral("Die Datei %1 kann nicht weiter gelesen werden: %2.")
                              .arg(quoted(m_file.fileName()), m_file.errorString()));
            return false;
        }
        m_atEnd = true;
        return false;
    }
    return true;
}

void FileSender::step()
{
    if (!m_running || m_waitingPrompt)
        return;
    // A pause counts from when the bytes left, so the line is empty first.
    const bool paced =
        m_choice.byteDelayMs > 0 || m_choice.lineDelayMs > 0 || !m_choice.prompt.isEmpty();
    if (m_line.unsent() > (paced ? 0 : LineFill)) {
        m_timer.start(FullLineMs);
        return;
    }
    if (m_pauseNext) {
        m_pauseNext = false;
        lineDone();
        return;
    }
    // The next bytes to hand over: a line with its new end, or a piece.
    if (m_outAt >= m_out.size()) {
        m_out.clear();
        m_outAt = 0;
        if (m_choice.mode == Mode::Bytes) {
            if (fillPending()) {
                m_out = m_pending.mid(m_pendingAt, BytesPiece);
                m_pendingAt += m_out.size();
                m_progress.done += m_out.size();
            }
        } else {
            bool ended = false;
            while (!ended && fillPending()) {
                const char c = m_pending.at(m_pendingAt++);
                ++m_progress.done;
                if (c == '\n') {
                    // A CR before it belonged to the same line end.
                    if (m_lastWasCr) {
                        m_lastWasCr = false;
                        continue;
                    }
                    ended = true;
                } else if (c == '\r') {
                    m_lastWasCr = true;
                    ended = true;
                } else {
                    m_lastWasCr = false;
                    m_out.append(c);
                }
            }
            if (!ended && m_out.isEmpty() && m_atEnd) {
                // Nothing after the last line end.
            } else {
                m_out.append(m_choice.terminator);
                m_out.append('\0'); // marks the line's end below, never sent
            }
        }
        if (!m_running)
            return;
        if (m_out.isEmpty()) {
            report();
            finish(true, QString());
            return;
        }
    }
    const bool lines = m_choice.mode == Mode::Lines;
    const qsizetype payload = m_out.size() - (lines ? 1 : 0);
    if (lines && m_outAt == 0 && !m_choice.prompt.isEmpty()) {
        // The answer may come before the line has left our side entirely.
        m_watching = true;
        m_seen.clear();
    }
    if (m_choice.byteDelayMs > 0) {
        m_line.put(m_out.mid(m_outAt, 1));
        ++m_outAt;
    } else {
        m_line.put(m_out.mid(m_outAt, payload - m_outAt));
        m_outAt = payload;
    }
    report();
    if (lines && m_outAt == payload) {
        m_outAt = m_out.size();
        ++m_lines;
        m_pauseNext = true;
        m_timer.start(0);
        return;
    }
    m_timer.start(m_choice.byteDelayMs);
}

void FileSender::lineDone()
{
    if (m_watching) {
        m_waitingPrompt = true;
        m_promptTimer.start(m_choice.promptTimeoutMs);
        return;
    }
    m_timer.start(m_choice.lineDelayMs);
}

void FileSender::report()
{
    if (m_reported.elapsed() < 100 && m_progress.done < m_progress.total)
        return;
    m_reported.restart();
    Q_EMIT progressed(m_progress);
}

void FileSender::finish(bool ok, const QString &message, bool cancelled)
{
    if (!m_running)
        return;
    m_running = false;
    m_timer.stop();
    m_promptTimer.stop();
    m_waitingPrompt = false;
    m_watching = false;
    m_file.close();
    Q_EMIT progressed(m_progress);
    Q_EMIT finished({ok, cancelled, message, {}});
}
