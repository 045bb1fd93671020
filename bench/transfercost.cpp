// What the file transfers cost. XMODEM-1K, YMODEM and ZMODEM, sent and
// received by Kavro's ProtocolTransfer (lrzsz driven through its pipes) over a
// pseudo-terminal, lrzsz on the far end:
//   - through a relay that passes bytes at the rate of a 115200 baud line
//     (11.520 bytes a second, 8N1): the rate reached against the line's;
//   - on a plain pseudo-terminal without a rate, beside lrzsz driving both
//     ends of the same pseudo-terminal and relay, in the same run.
//
//   build/bench/kavro-transfercost [--line-bytes N] [--plain-bytes N] [--only NAME]
//
// N defaults to 131072 bytes at the line's rate and 8388608 without one
// (--plain-bytes 0 leaves the plain runs out); --only measures one protocol
// (XMODEM-1K, YMODEM or ZMODEM).

#include "fdline.h"
#include "protocoltransfer.h"
#include "ptyrelay.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <cstdio>

namespace
{
using Protocol = ProtocolTransfer::Protocol;
constexpr qint64 LineRate = 11520;

QStringList receiver(Protocol p)
{
    switch (p) {
    case Protocol::Xmodem:
    case Protocol::Xmodem1k:
        return {"rx", "-b", "-c", "datei.bin"};
    case Protocol::Ymodem:
        return {"rb", "-b"};
    case Protocol::Zmodem:
        break;
    }
    return {"rz", "-b"};
}

QStringList sender(Protocol p)
{
    switch (p) {
    case Protocol::Xmodem:
        return {"sx", "-b", "datei.bin"};
    case Protocol::Xmodem1k:
        return {"sx", "-b", "-k", "datei.bin"};
    case Protocol::Ymodem:
        return {"sb", "-b", "-k", "datei.bin"};
    case Protocol::Zmodem:
        break;
    }
    return {"sz", "-b", "datei.bin"};
}

bool writeRandom(const QString &path, qint64 size)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    QByteArray b(size, '\0');
    QRandomGenerator gen(1);
    for (auto &c : b)
        c = char(gen.bounded(256));
    return f.write(b) == size;
}

// Seconds for one file through Kavro's side; -1 when it failed.
double kavroRun(Protocol p, bool weSend, qint64 size, qint64 rate)
{
    QTemporaryDir ours, far;
    PtyRelay relay;
    relay.setRate(rate);
    FdLine line(relay.nearSlave());
    ProtocolTransfer transfer(line);
    line.received = [&](QByteArrayView b) { transfer.take(b); };
    QSignalSpy done(&transfer, &ProtocolTransfer::finished);
    QElapsedTimer clock;
    if (weSend) {
        writeRandom(ours.filePath("datei.bin"), size);
        const QStringList r = receiver(p);
        relay.startFar(r.first(), r.mid(1), far.path());
        clock.start();
        transfer.send(p, ours.filePath("datei.bin"));
    } else {
        writeRandom(far.filePath("datei.bin"), size);
        clock.start();
        transfer.receive(p, ours.path());
        const QStringList s = sender(p);
        relay.startFar(s.first(), s.mid(1), far.path());
    }
    if (!done.wait(3600 * 1000))
        return -1;
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    relay.farEnded(30000);
    return done.first().first().value<TransferOutcome>().ok ? seconds : -1;
}

// Seconds for lrzsz on both ends: the sender on our side's pseudo-terminal,
// the same relay, the receiver on the far end.
double lrzszRun(Protocol p, qint64 size)
{
    QTemporaryDir ours, far;
    PtyRelay relay;
    writeRandom(ours.filePath("datei.bin"), size);
    QProcess near;
    near.setWorkingDirectory(ours.path());
    near.setStandardInputFile(relay.nearPath());
    near.setStandardOutputFile(relay.nearPath());
    near.setStandardErrorFile(QProcess::nullDevice());
    const QStringList r = receiver(p);
    relay.startFar(r.first(), r.mid(1), far.path());
    QElapsedTimer clock;
    clock.start();
    const QStringList s = sender(p);
    near.start(s.first(), s.mid(1));
    if (!relay.farEnded(3600 * 1000))
        return -1;
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    near.waitForFinished(30000);
    return relay.far().exitCode() == 0 ? seconds : -1;
}

qint64 option(const QStringList &args, const QString &name, qint64 fallback)
{
    const qsizetype i = args.indexOf(name);
    return i >= 0 && i + 1 < args.size() ? args.at(i + 1).toLongLong() : fallback;
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const qint64 lineBytes = option(args, "--line-bytes", 131072);
    const qint64 plainBytes = option(args, "--plain-bytes", 8388608);
    if (!ProtocolTransfer::available()) {
        std::fprintf(stderr, "lrzsz fehlt\n");
        return 1;
    }
    const Protocol protocols[] = {Protocol::Xmodem1k, Protocol::Ymodem, Protocol::Zmodem};
    std::printf("At 115200 baud (%lld bytes/s), %lld bytes:\n", LineRate, lineBytes);
    const QString only = args.contains("--only") ? args.at(args.indexOf("--only") + 1) : QString();
    auto skipped = [&](Protocol p) {
        return !only.isEmpty() && only != ProtocolTransfer::protocolName(p);
    };
    for (Protocol p : protocols) {
        if (skipped(p))
            continue;
        for (bool weSend : {true, false}) {
            const double s = kavroRun(p, weSend, lineBytes, LineRate);
            std::printf("  %-9s %-8s %7.2f s  %7.0f bytes/s  %5.1f %% of the line\n",
                        qPrintable(ProtocolTransfer::protocolName(p)), weSend ? "send" : "receive",
                        s, lineBytes / s, 100.0 * double(lineBytes) / s / double(LineRate));
        }
    }
    if (plainBytes <= 0)
        return 0;
    std::printf("Plain pseudo-terminal, %lld bytes (Kavro sends | lrzsz on both ends):\n",
                plainBytes);
    for (Protocol p : protocols) {
        if (skipped(p))
            continue;
        const double k = kavroRun(p, true, plainBytes, 0);
        const double l = lrzszRun(p, plainBytes);
        std::printf("  %-9s Kavro %7.2f s %8.2f MB/s | lrzsz %7.2f s %8.2f MB/s\n",
                    qPrintable(ProtocolTransfer::protocolName(p)), k, plainBytes / k / 1e6, l,
                    plainBytes / l / 1e6);
    }
    return 0;
}
