#pragma once

// Small things every test program needs.

#include "farend.h"
#include "kavroerror.h"

#include <QtTest>

#include <csignal>
#include <cstdio>
#include <numeric>
#include <sys/resource.h>

// The error number a call fails with; 0 when it does not fail.
template <typename F> int errorOf(F f)
{
    try {
        f();
    } catch (const KavroError &e) {
        return e.number();
    }
    return 0;
}

// Every byte value in order, `times` over.
inline QByteArray allValues(int times = 1)
{
    QByteArray b(256 * times, '\0');
    std::iota(b.begin(), b.end(), '\0');
    return b;
}

// "Zeile 1\r\n" up to "Zeile n\r\n".
inline QByteArray numberedLines(int n)
{
    QByteArray lines;
    for (int i = 1; i <= n; ++i)
        lines += "Zeile " + QByteArray::number(i) + "\r\n";
    return lines;
}

// What the far end received: at least n bytes, handling events meanwhile (the
// rest of a long write goes out from there), and whatever came along.
inline QByteArray receiveWhileRunning(FarEnd &pty, qsizetype n, int timeoutMs = 20000)
{
    QByteArray got;
    QDeadlineTimer deadline(timeoutMs);
    while (got.size() < n && !deadline.hasExpired()) {
        QCoreApplication::processEvents();
        got += pty.receive(1, 5);
    }
    QCoreApplication::processEvents();
    return got + pty.receive(1, 50);
}

inline QByteArray contentOf(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

inline bool writeFile(const QString &path, const QByteArray &content)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(content) == content.size();
}

// Puts an environment variable back as it was when this goes out of scope.
struct RestoreEnvironment {
    const char *name;
    bool had = qEnvironmentVariableIsSet(name);
    QByteArray old = qgetenv(name);
    ~RestoreEnvironment() { had ? qputenv(name, old) : qunsetenv(name); }
};

// Files of this process may grow to `bytes` only, as on a full disk, until
// this goes out of scope; the signal the limit sends is ignored meanwhile.
struct FileSizeLimit {
    explicit FileSizeLimit(rlim_t bytes) : m_handler(std::signal(SIGXFSZ, SIG_IGN))
    {
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit small = m_old;
        small.rlim_cur = bytes;
        m_ok = setrlimit(RLIMIT_FSIZE, &small) == 0;
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_handler);
    }
    bool ok() const { return m_ok; }
    void (*m_handler)(int);
    rlimit m_old{};
    bool m_ok = false;
};

// Starts this test program again as the child that keeps a history in
// `folder` (see its main), and waits until it says it is ready.
inline bool startHistoryChild(QProcess &child, const QString &folder)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("KAVRO_HISTORY_CHILD", folder);
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {});
    return child.waitForReadyRead(20000) && child.readAll() == "bereit\n";
}

// What such a child says once its history holds a line.
inline void sayReady()
{
    std::fputs("bereit\n", stdout);
    std::fflush(stdout);
}

// How many pixels of the image pass the test (given the pixel's QColor).
template <class Image, class Test> int pixels(const Image &image, Test test)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            n += test(image.pixelColor(x, y)) ? 1 : 0;
    }
    return n;
}
