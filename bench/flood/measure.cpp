#include "measure.h"

#include <QFile>
#include <QString>

#include <algorithm>
#include <cerrno>

#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

double now()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

double cpuSeconds()
{
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
}

double peakMegabytes()
{
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return double(ru.ru_maxrss) / 1024.0; // kB on Linux
}

double processCpuSeconds(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    // The command name in parentheses may hold blanks; the fields counted
    // from after its closing parenthesis start with the state (field 3).
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return double(fields[11].toLongLong() + fields[12].toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

void report(const QList<QPair<QByteArray, QByteArray>> &fields)
{
    QByteArray line;
    for (const auto &[key, value] : fields)
        line += key + '=' + value + ' ';
    line += '\n';
    qsizetype done = 0;
    while (done < line.size()) {
        const ssize_t n =
            ::write(STDOUT_FILENO, line.constData() + done, size_t(line.size() - done));
        if (n <= 0 && errno != EINTR)
            return;
        done += std::max<ssize_t>(n, 0);
    }
}

Fields parseReport(QByteArrayView line)
{
    Fields fields;
    for (const QByteArray &pair : line.toByteArray().split(' ')) {
        const qsizetype eq = pair.indexOf('=');
        if (eq > 0)
            fields.insert(pair.left(eq), pair.mid(eq + 1));
    }
    return fields;
}

QByteArray num(double v)
{
    return QByteArray::number(v, 'f', 6);
}
