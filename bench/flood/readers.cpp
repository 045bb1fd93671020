#include "readers.h"

#include "measure.h"
#include "rfc2217.h"

#include <QByteArrayView>

#include <algorithm>
#include <cerrno>
#include <utility>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{

// Writes all n bytes to fd; false when the file takes no more.
bool writeAll(int fd, const char *bytes, qsizetype n)
{
    for (qsizetype done = 0; done < n;) {
        const ssize_t w = ::write(fd, bytes + done, size_t(n - done));
        if (w <= 0)
            return false;
        done += w;
    }
    return true;
}

// Copies the pieces readPiece hands over (returning what read() returned)
// into out until expected bytes are in, `total` of them already before, and
// reports the reader's figures.
template <typename ReadPiece>
int copyAndReport(ReadPiece readPiece, int out, qint64 expected, qint64 total)
{
    double firstEvent = 0, firstCpu = 0;
    while (total < expected) {
        QByteArrayView piece;
        const ssize_t n = readPiece(piece);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        if (firstEvent == 0) {
            firstEvent = now();
            firstCpu = cpuSeconds();
        }
        if (!writeAll(out, piece.data(), piece.size())) {
            report({{"error", "write"}});
            return 1;
        }
        total += piece.size();
    }
    report({{"end", num(now())},
            {"first_event", num(firstEvent)},
            {"size", QByteArray::number(total)},
            {"cpu", num(cpuSeconds() - firstCpu)},
            {"peak_mb", num(peakMegabytes())}});
    return 0;
}

} // namespace

int readerMain(int argc, char **argv)
{
    if (argc < 5)
        return 2;
    const qint64 expected = QByteArray(argv[4]).toLongLong();
    const int in = ::open(argv[2], O_RDONLY | O_NOCTTY | O_CLOEXEC);
    const int out = ::open(argv[3], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (in < 0 || out < 0) {
        report({{"error", "open"}});
        return 1;
    }
    report({{"ready", "1"}, {"peak_mb", num(peakMegabytes())}});
    std::vector<char> buf(64 * 1024);
    return copyAndReport(
        [&](QByteArrayView &piece) {
            const ssize_t n = ::read(in, buf.data(), buf.size());
            piece = QByteArrayView(buf.data(), std::max<ssize_t>(n, 0));
            return n;
        },
        out, expected, 0);
}

int netReaderMain(int argc, char **argv)
{
    if (argc < 5)
        return 2;
    const qint64 expected = QByteArray(argv[4]).toLongLong();
    const int sock = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(quint16(QByteArray(argv[2]).toUInt()));
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int out = ::open(argv[3], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (sock < 0 || out < 0 || ::connect(sock, reinterpret_cast<sockaddr *>(&at), sizeof at) != 0) {
        report({{"error", "open"}});
        return 1;
    }
    Rfc2217Client codec;
    auto sendAll = [sock](const QByteArray &bytes) {
        for (qsizetype done = 0; done < bytes.size();) {
            const ssize_t w =
                ::send(sock, bytes.constData() + done, size_t(bytes.size() - done), MSG_NOSIGNAL);
            if (w <= 0)
                return false;
            done += w;
        }
        return true;
    };
    // Binary both ways agreed before the far end sends, as the window waits
    // for it too.
    sendAll(codec.opening());
    std::vector<char> buf(64 * 1024);
    QByteArray data, reply;
    auto readSome = [&]() -> ssize_t {
        const ssize_t n = ::read(sock, buf.data(), buf.size());
        if (n > 0) {
            codec.decode(QByteArrayView(buf.data(), n), data, reply);
            if (!reply.isEmpty())
                sendAll(std::exchange(reply, {}));
        }
        return n;
    };
    while (!codec.receivesBinary() || !codec.sendsBinary()) {
        if (readSome() <= 0) {
            report({{"error", "telnet"}});
            return 1;
        }
    }
    report({{"ready", "1"}, {"peak_mb", num(peakMegabytes())}});
    return copyAndReport(
        [&](QByteArrayView &piece) {
            data.resize(0);
            const ssize_t n = readSome();
            piece = data;
            return n;
        },
        out, expected, data.size());
}
