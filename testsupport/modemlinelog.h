#pragma once

// What a test sees of the modem lines through the preloaded library
// (testsupport/modemlines.cpp): the requests it recorded, and the input lines
// it answers.

#include "support.h"

#include <dlfcn.h>
#include <sys/ioctl.h>

class ModemLineLog
{
public:
    // Switches the library on, recording into a folder of its own, until
    // this goes out of scope.
    ModemLineLog() { qputenv("KAVRO_MODEMLINES", QFile::encodeName(m_folder.path())); }
    ~ModemLineLog() { qunsetenv("KAVRO_MODEMLINES"); }

    QString folder() const { return m_folder.path(); }

    // Whether the library is loaded into this process.
    static bool loaded()
    {
        Dl_info info{};
        return dladdr(reinterpret_cast<void *>(&::ioctl), &info) && info.dli_fname &&
               QByteArray(info.dli_fname).contains("modemlines");
    }

    // The requests on a device, oldest first ("OPEN", "DTR 1", "BREAK 0", ...).
    QStringList requests(const QString &device) const
    {
        QStringList out;
        for (const auto &[ns, what] : timed(device))
            out.append(what);
        return out;
    }
    // The same with their times on CLOCK_MONOTONIC, in nanoseconds.
    QList<std::pair<qint64, QString>> timed(const QString &device) const
    {
        const QString pts = QString(device).remove(QStringLiteral("/dev/"));
        QList<std::pair<qint64, QString>> out;
        const QStringList lines =
            QString::fromLatin1(contentOf(m_folder.filePath("requests"))).split(u'\n');
        for (const QString &line : lines) {
            const QStringList f = line.split(u' ');
            if (f.size() >= 3 && f[1] == pts)
                out.append({f[0].toLongLong(), f.mid(2).join(u' ')});
        }
        return out;
    }
    void forget() const { QFile::remove(m_folder.filePath("requests")); }

    // The input lines the device reports from now on: any of "CTS DSR DCD RI".
    bool setInputs(const QString &device, const QByteArray &lines) const
    {
        return writeFile(deviceFile(device, ".in"), lines);
    }
    // The requests the device refuses from now on: any of "DTR RTS BREAK".
    bool refuse(const QString &device, const QByteArray &lines) const
    {
        return writeFile(deviceFile(device, ".refuse"), lines);
    }

private:
    QString deviceFile(const QString &device, const char *suffix) const
    {
        return m_folder.filePath(
            QString(device).remove(QStringLiteral("/dev/pts/")).prepend("pts") + suffix);
    }
    QTemporaryDir m_folder;
};
