#pragma once

// Small things every test program needs.

#include "kavroerror.h"

#include <QByteArray>
#include <QFile>

#include <csignal>
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

// Files of this process may grow to `bytes` only, as on a full disk, until
// this goes out of scope; the signal the limit sends is ignored meanwhile.
class FileSizeLimit
{
public:
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
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;
    bool ok() const { return m_ok; }

private:
    void (*m_handler)(int);
    rlimit m_old{};
    bool m_ok = false;
};
