#include "protocoltransfer.h"

#include "receivedfiles.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <sys/resource.h>
#include <sys/statvfs.h>

namespace
{
constexpr int FullLineMs = 2;

QString quoted(const QString &text)
{
    return QStringLiteral("„%1“").arg(text);
}

const QStringList &programs()
{
    static const QStringList names{QStringLiteral("sx"), QStringLiteral("rx"),
                                   QStringLiteral("sb"), QStringLiteral("rb"),
                                   QStringLiteral("sz"), QStringLiteral("rz")};
    return names;
}
} // namespace

ProtocolTransfer::ProtocolTransfer(TransferLine &line, QObject *parent)
    : QObject(parent), m_line(line)
{
    m_relayTimer.setSingleShot(true);
    connect(&m_relayTimer, &QTimer::timeout, this, &ProtocolTransfer::relayOut);
    m_stall.setSingleShot(true);
    connect(&m_stall, &QTimer::timeout, this, [this] {
        cancel(m_received == 0 ? QStringLiteral("Die Gegenstelle antwortet nicht.")
                               : QStringLiteral("Von der Gegenstelle kommt kein %1, nur "
                                                "Unverständliches.")
                                     .arg(protocolName(m_protocol)));
    });
    m_silence.setSingleShot(true);
    connect(&m_silence, &QTimer::timeout, this, [this] {
        cancel(m_received == 0 ? QStringLiteral("Die Gegenstelle antwortet nicht.")
                               : QStringLiteral("Die Gegenstelle antwortet nicht mehr."));
    });
}

ProtocolTransfer::~ProtocolTransfer()
{
    // The program ends, and the far end is told, also when the window goes.
    if (m_process)
        cancel(QStringLiteral("Das Programm wurde beendet."));
}

const QByteArray &ProtocolTransfer::cancelSequence()
{
    static const QByteArray sequence = QByteArray(8, '\x18') + QByteArray(8, '\b');
    return sequence;
}

bool ProtocolTransfer::available()
{
    for (const QString &name : programs()) {
        if (QStandardPaths::findExecutable(name).isEmpty())
            return false;
    }
    return true;
}

QString ProtocolTransfer::missingText()
{
    return QStringLiteral("XMODEM, YMODEM und ZMODEM brauchen das Paket „lrzsz“ "
                          "(sudo apt install lrzsz).");
}

QString ProtocolTransfer::protocolName(Protocol protocol)
{
    switch (protocol) {
    case Protocol::Xmodem:
        return QStringLiteral("XMODEM");
    case Protocol::Xmodem1k:
        return QStringLiteral("XMODEM-1K");
    case Protocol::Ymodem:
        return QStringLiteral("YMODEM");
    case Protocol::Zmodem:
        break;
    }
    return QStringLiteral("ZMODEM");
}

void ProtocolTransfer::send(Protocol protocol, const QString &path)
{
    m_direction = Direction::Send;
    m_protocol = protocol;
    const QFileInfo info(path);
    QFile probe(path);
    if (!info.isFile() || !probe.open(QIODevice::ReadOnly)) {
        const QString text =
            QStringLiteral("Die Datei %1 kann nicht gelesen werden.").arg(quoted(path));
        QTimer::singleShot(0, this, [this, text] { Q_EMIT finished({false, false, text, {}}); });
        return;
    }
    m_fileSize = info.size();
    const QString file = info.absoluteFilePath();
    // -b: every byte as it is; -vv: the progress lines the window shows.
    switch (protocol) {
    case Protocol::Xmodem:
        begin(QStringLiteral("sx"), {"-b", "-vv", file}, info.absolutePath());
        break;
    case Protocol::Xmodem1k:
        begin(QStringLiteral("sx"), {"-b", "-k", "-vv", file}, info.absolutePath());
        break;
    case Protocol::Ymodem:
        begin(QStringLiteral("sb"), {"-b", "-k", "-vv", file}, info.absolutePath());
        break;
    case Protocol::Zmodem:
        begin(QStringLiteral("sz"), {"-b", "-vv", file}, info.absolutePath());
        break;
    }
}

void ProtocolTransfer::receive(Protocol protocol, const QString &folder, const QString &xmodemName)
{
    m_direction = Direction::Receive;
    m_protocol = protocol;
    m_folder = folder;
    m_fileSize = -1;
    auto inbox =
        std::make_unique<QTemporaryDir>(QDir(folder).filePath(QStringLiteral(".kavro-XXXXXX")));
    if (!inbox->isValid()) {
        const QString text =
            QStringLiteral("In den Ordner %1 kann nicht geschrieben werden.").arg(quoted(folder));
        QTimer::singleShot(0, this, [this, text] { Q_EMIT finished({false, false, text, {}}); });
        return;
    }
    m_inbox = std::move(inbox);
    switch (protocol) {
    case Protocol::Xmodem:
    case Protocol::Xmodem1k:
        // -c asks for CRC-16; rx falls back to the checksum for a sender
        // that does not answer to it.
        begin(QStringLiteral("rx"), {"-b", "-c", "-vv", xmodemName}, m_inbox->path());
        break;
    case Protocol::Ymodem:
        begin(QStringLiteral("rb"), {"-b", "-vv"}, m_inbox->path());
        break;
    case Protocol::Zmodem:
        begin(QStringLiteral("rz"), {"-b", "-vv"}, m_inbox->path());
        break;
    }
}

void ProtocolTransfer::begin(const QString &program, const QStringList &arguments,
                             const QString &workDir)
{
    m_report = {};
    m_received = 0;
    m_sent = 0;
    m_cans = 0;
    m_farCancelled = false;
    m_writeFailed = false;
    m_outQueue.clear();
    m_finishing = false;
    m_process = std::make_unique<QProcess>();
    QProcess *process = m_process.get();
    process->setWorkingDirectory(workDir);
    process->setProcessChannelMode(QProcess::SeparateChannels);
    connect(process, &QProcess::readyReadStandardOutput, this, &ProtocolTransfer::relayOut);
    connect(process, &QProcess::readyReadStandardError, this, [this, process] {
        const qint64 before = m_report.done() + m_report.blocks();
        m_report.feed(process->readAllStandardError());
        // Blocks that go through are progress; bytes alone are not.
        if (m_report.done() + m_report.blocks() != before)
            m_stall.start(m_stallLimitMs);
        report(false);
    });
    connect(process, &QProcess::finished, this, &ProtocolTransfer::ended);
    connect(process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            finish(false, false, missingText());
    });
    m_reported.start();
    m_silence.start(m_silenceLimitMs);
    m_stall.start(m_stallLimitMs);
    process->start(program, arguments);
}

void ProtocolTransfer::relayOut()
{
    if (!m_process)
        return;
    m_outQueue.append(m_process->readAllStandardOutput());
    // lrzsz writes as fast as the pipe takes it; the line gets it in pieces
    // so that a cancel is not stuck behind a whole file in the port's buffer.
    const qint64 room = LineFill - m_line.unsent();
    if (room > 0 && !m_outQueue.isEmpty()) {
        const QByteArray piece = m_outQueue.left(room);
        m_outQueue.remove(0, piece.size());
        m_sent += piece.size();
        m_line.put(piece);
    }
    if (!m_outQueue.isEmpty())
        m_relayTimer.start(FullLineMs);
}

void ProtocolTransfer::take(QByteArrayView received)
{
    if (!m_process || received.isEmpty())
        return;
    m_received += received.size();
    m_silence.start(m_silenceLimitMs);
    // A run of CAN from the far end is its cancel. Answers while we send
    // and ZMODEM's escaped frames never hold two in a row; received XMODEM
    // data may, but there lrzsz says it itself.
    if (m_direction == Direction::Send || m_protocol == Protocol::Zmodem) {
        for (char c : received) {
            m_cans = c == '\x18' ? m_cans + 1 : 0;
            if (m_cans >= 2)
                m_farCancelled = true;
        }
    }
    m_process->write(received.data(), received.size());
}

void ProtocolTransfer::report(bool now)
{
    if (!now && m_reported.elapsed() < 100)
        return;
    m_reported.restart();
    TransferProgress p;
    p.total = m_report.total() >= 0 ? m_report.total() : m_fileSize;
    if (m_report.done() >= 0)
        p.done = m_report.done();
    else
        p.done = m_direction == Direction::Send ? m_sent : m_received;
    if (p.total >= 0)
        p.done = std::min(p.done, p.total);
    p.retries = m_report.retries();
    p.lastWord = m_report.lastWord();
    Q_EMIT progressed(p);
}

void ProtocolTransfer::cancel(const QString &why)
{
    if (!m_process)
        return;
    // lrzsz first, so that nothing of it follows the cancel sequence.
    m_process->disconnect(this);
    m_process->kill();
    m_process->waitForFinished(2000);
    m_outQueue.clear();
    m_line.put(cancelSequence());
    finish(false, true, why);
}

bool ProtocolTransfer::noRoom() const
{
    constexpr qint64 Little = 64 * 1024;
    struct statvfs room {
    };
    if (statvfs(QFile::encodeName(m_folder).constData(), &room) == 0 &&
        qint64(room.f_bavail) * qint64(room.f_frsize) < Little)
        return true;
    // A file as large as this process may write is full too (lrzsz may
    // have removed it: what it said it received counts as well).
    rlimit limit{};
    if (!m_inbox || getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return false;
    qint64 largest = std::max<qint64>(m_report.done(), 0);
    for (const QFileInfo &f : QDir(m_inbox->path()).entryInfoList(QDir::Files | QDir::Hidden))
        largest = std::max(largest, f.size());
    return largest + Little > qint64(limit.rlim_cur);
}

QString ProtocolTransfer::failureText() const
{
    if (m_writeFailed)
        return QStringLiteral("Der Ordner %1 ist voll oder nimmt keine so große Datei an.")
            .arg(quoted(m_folder));
    if (m_report.farEndCancelled() || m_farCancelled)
        return QStringLiteral("Die Gegenstelle hat die Übertragung abgebrochen.");
    if (m_received == 0)
        return QStringLiteral("Die Gegenstelle antwortet nicht.");
    if (m_report.done() <= 0 && m_report.blocks() == 0)
        return QStringLiteral("Von der Gegenstelle kommt kein %1, nur Unverständliches.")
            .arg(protocolName(m_protocol));
    return QStringLiteral("Die Übertragung ist misslungen: %1").arg(m_report.lastWord());
}

void ProtocolTransfer::ended(int exitCode, QProcess::ExitStatus status)
{
    m_process->disconnect(this);
    m_report.feed(m_process->readAllStandardError());
    // What lrzsz wrote last still goes out (its final acknowledgement).
    m_outQueue.append(m_process->readAllStandardOutput());
    if (!m_outQueue.isEmpty()) {
        m_sent += m_outQueue.size();
        m_line.put(m_outQueue);
        m_outQueue.clear();
    }
    const bool ok = status == QProcess::NormalExit && exitCode == 0;
    // lrzsz does not always say that its file could not grow (it may even
    // crash on it): the folder is looked at instead.
    if (!ok && m_direction == Direction::Receive)
        m_writeFailed = m_report.writeFailed() || noRoom();
    // lrzsz tells the far end itself when it gives up, but not when it
    // crashed.
    if (status == QProcess::CrashExit)
        m_line.put(cancelSequence());
    finish(ok, false, ok ? QString() : failureText());
}

void ProtocolTransfer::finish(bool ok, bool cancelled, const QString &message)
{
    if (m_finishing)
        return;
    m_finishing = true;
    m_relayTimer.stop();
    m_silence.stop();
    m_stall.stop();
    TransferOutcome outcome{ok, cancelled, message, {}};
    if (m_inbox) {
        QStringList failures;
        outcome.files = ReceivedFiles::moveAll(m_inbox->path(), m_folder, ok, &failures);
        if (!failures.isEmpty()) {
            outcome.ok = false;
            outcome.message = QStringLiteral("Empfangene Dateien konnten nicht in den Ordner %1 "
                                             "gelegt werden; sie liegen noch in %2.")
                                  .arg(quoted(m_folder), quoted(m_inbox->path()));
            m_inbox->setAutoRemove(false);
        }
        m_inbox.reset();
    }
    if (m_process) {
        // Deleted later: this may run inside one of its own signals.
        m_process.release()->deleteLater();
    }
    report(true);
    Q_EMIT finished(outcome);
}
