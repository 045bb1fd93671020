#pragma once

#include "transferline.h"

#include <QByteArray>
#include <QObject>
#include <QSocketNotifier>

#include <fcntl.h>
#include <functional>
#include <unistd.h>

// Our side of a line for the transfer tests and benchmarks: a descriptor of
// a pseudo-terminal's slave, written without blocking from a queue of its
// own, what arrives handed to `received`. Header only, for the programs that
// link kavro_transfer.
class FdLine : public TransferLine
{
public:
    explicit FdLine(int fd)
        : m_fd(fd), m_in(fd, QSocketNotifier::Read), m_out(fd, QSocketNotifier::Write)
    {
        fcntl(m_fd, F_SETFL, fcntl(m_fd, F_GETFL) | O_NONBLOCK);
        m_out.setEnabled(false);
        QObject::connect(&m_in, &QSocketNotifier::activated, &m_in, [this] {
            char buf[65536];
            const ssize_t n = ::read(m_fd, buf, sizeof buf);
            if (n > 0) {
                m_got.append(buf, n);
                if (received)
                    received(QByteArrayView(buf, n));
            }
        });
        QObject::connect(&m_out, &QSocketNotifier::activated, &m_out, [this] { flush(); });
    }
    void put(const QByteArray &bytes) override
    {
        m_queue.append(bytes);
        m_put += bytes.size();
        flush();
    }
    qint64 unsent() const override { return m_queue.size(); }

    std::function<void(QByteArrayView)> received;
    // Everything received and handed to put so far.
    const QByteArray &got() const { return m_got; }
    qint64 putCount() const { return m_put; }

private:
    void flush()
    {
        if (!m_queue.isEmpty()) {
            const ssize_t n = ::write(m_fd, m_queue.constData(), size_t(m_queue.size()));
            if (n > 0)
                m_queue.remove(0, n);
        }
        m_out.setEnabled(!m_queue.isEmpty());
    }

    int m_fd;
    QSocketNotifier m_in;
    QSocketNotifier m_out;
    QByteArray m_queue;
    QByteArray m_got;
    qint64 m_put = 0;
};
