#include "farend.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <cerrno>
#include <poll.h>
#include <unistd.h>

bool FarEnd::send(QByteArrayView bytes)
{
    qsizetype done = 0;
    QElapsedTimer clock;
    clock.start();
    while (done < bytes.size()) {
        const ssize_t n = ::write(master(), bytes.data() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
            clock.restart();
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            // A slow reader on a busy machine is not a stuck one: only ten
            // seconds without any progress give up.
            if (clock.elapsed() > 10000)
                return false;
            // The line is full. When the reader lives in this same thread (a
            // test's window), it must get to run, or nothing ever drains.
            if (QCoreApplication::instance() &&
                QThread::currentThread() == QCoreApplication::instance()->thread()) {
                QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            } else {
                pollfd p{master(), POLLOUT, 0};
                poll(&p, 1, 10);
            }
        } else {
            return false;
        }
    }
    return true;
}

QByteArray FarEnd::receive(qsizetype atLeast, int timeoutMs)
{
    QByteArray got;
    QElapsedTimer clock;
    clock.start();
    char buf[4096];
    while (got.size() < atLeast && clock.elapsed() < timeoutMs) {
        pollfd p{master(), POLLIN, 0};
        if (poll(&p, 1, 10) > 0) {
            const ssize_t n = ::read(master(), buf, sizeof buf);
            if (n > 0)
                got.append(buf, n);
        }
    }
    return got;
}
