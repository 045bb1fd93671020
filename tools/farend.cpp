#include "farend.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

FarEnd::FarEnd()
{
    char name[256] = {};
    if (openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) {
        m_master = m_slave = -1;
        return;
    }
    m_slavePath = QString::fromLocal8Bit(name);
    // Raw on both sides: the far end sees bytes, not a terminal's cooked lines.
    termios t{};
    tcgetattr(m_slave, &t);
    cfmakeraw(&t);
    tcsetattr(m_slave, TCSANOW, &t);
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    fcntl(m_master, F_SETFD, FD_CLOEXEC);
    fcntl(m_slave, F_SETFD, FD_CLOEXEC);
}

FarEnd::~FarEnd()
{
    closeMaster();
    closeSlave();
}

bool FarEnd::send(QByteArrayView bytes)
{
    qsizetype done = 0;
    QElapsedTimer clock;
    clock.start();
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.data() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
            // A long write on a busy machine takes its time; only a line
            // that takes nothing for ten seconds has stopped.
            clock.restart();
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            if (clock.elapsed() > 10000)
                return false;
            // The line is full. When the reader lives in this same thread (a
            // test's window), it must get to run, or nothing ever drains.
            if (QCoreApplication::instance() &&
                QThread::currentThread() == QCoreApplication::instance()->thread()) {
                QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            } else {
                pollfd p{m_master, POLLOUT, 0};
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
        pollfd p{m_master, POLLIN, 0};
        if (poll(&p, 1, 10) > 0) {
            const ssize_t n = ::read(m_master, buf, sizeof buf);
            if (n > 0)
                got.append(buf, n);
        }
    }
    return got;
}

void FarEnd::closeMaster()
{
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}

void FarEnd::closeSlave()
{
    if (m_slave >= 0)
        ::close(m_slave);
    m_slave = -1;
}
