// A stand-in for a serial device's modem lines on pseudo-terminals, loaded
// with LD_PRELOAD into a test or into the ser2net it starts. A pseudo-terminal
// has no modem lines: the kernel refuses TIOCMGET, TIOCMBIS, TIOCMBIC and
// TIOCMSET on it and takes every break request without a trace. With
// KAVRO_MODEMLINES naming a folder, this library answers those requests on
// pseudo-terminal slaves as a UART's driver would, and appends each to
// FOLDER/requests (a TIOCMSET as the lines it changes), one line each:
//
//     <CLOCK_MONOTONIC in ns> pts/<n> OPEN | DTR 0|1 | RTS 0|1 | BREAK 0|1 [refused]
//
// The output lines are kept per device and process, and raised when the
// device is opened, as the kernel raises them on a real port. The input lines
// come from FOLDER/pts<n>.in, written by the test: any of the words CTS, DSR,
// DCD and RI. A device without some of its lines is FOLDER/pts<n>.refuse,
// naming any of DTR, RTS and BREAK: a request for one of those fails with
// EINVAL, as a driver refuses a line the chip does not have, and is recorded
// as "DTR 0 refused" and so on. Without the variable every call goes to the
// system unchanged.
//
// The calls caught are the library functions programs call: ioctl (QSerialPort
// and ser2net set the lines and the break through it), tcsendbreak (glibc's
// own goes to the kernel without passing through ioctl), and open (with the
// forms _FORTIFY_SOURCE gives it), so that an opening raises the lines again.

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <initializer_list>

#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

namespace
{

// Unix 98 pseudo-terminal slaves.
constexpr unsigned SlaveMajorFirst = 136, SlaveMajorLast = 143;

using IoctlFn = int (*)(int, unsigned long, ...);
using OpenFn = int (*)(const char *, int, ...);
using BreakFn = int (*)(int, int);

template <class F> F next(const char *name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

const char *folder()
{
    const char *f = getenv("KAVRO_MODEMLINES");
    return f && *f ? f : nullptr;
}

// The pts number of a pseudo-terminal slave, or -1.
int ptsNumber(int fd)
{
    struct stat st {
    };
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode))
        return -1;
    const unsigned ma = major(st.st_rdev);
    if (ma < SlaveMajorFirst || ma > SlaveMajorLast)
        return -1;
    return int((ma - SlaveMajorFirst) * 256 + minor(st.st_rdev));
}

// The output lines of each device this process touched.
struct Device {
    int pts = -1;
    int bits = 0; // TIOCM_DTR | TIOCM_RTS
};
Device devices[64];
pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;

Device &device(int pts)
{
    for (Device &d : devices)
        if (d.pts == pts)
            return d;
    for (Device &d : devices)
        if (d.pts < 0) {
            d = {pts, TIOCM_DTR | TIOCM_RTS};
            return d;
        }
    return devices[pts % 64]; // a test with that many devices shares
}

void record(int pts, const char *what)
{
    const char *dir = folder();
    if (!dir) // switched off meanwhile
        return;
    char path[4096], line[128];
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const int n = snprintf(line, sizeof line, "%lld pts/%d %s\n",
                           (long long)now.tv_sec * 1000000000LL + now.tv_nsec, pts, what);
    if (snprintf(path, sizeof path, "%s/requests", dir) >= int(sizeof path))
        return;
    static const OpenFn realOpen = next<OpenFn>("open");
    const int fd = realOpen(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    // One write of one line: lines of several processes never mix.
    if (write(fd, line, size_t(n)) != n)
        errno = EIO;
    close(fd);
}

constexpr int RefuseBreak = 0x10000; // beside the TIOCM_ bits

// The lines named in the test's file for the device ("in" or "refuse"), as
// TIOCM_ bits.
int named(int pts, const char *what)
{
    const char *dir = folder();
    char path[4096], text[256] = {};
    if (!dir || snprintf(path, sizeof path, "%s/pts%d.%s", dir, pts, what) >= int(sizeof path))
        return 0;
    static const OpenFn realOpen = next<OpenFn>("open");
    const int fd = realOpen(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    const ssize_t n = read(fd, text, sizeof text - 1);
    close(fd);
    if (n <= 0)
        return 0;
    int bits = 0;
    char *save = nullptr;
    for (char *word = strtok_r(text, " \t\r\n", &save); word;
         word = strtok_r(nullptr, " \t\r\n", &save)) {
        if (!strcmp(word, "CTS"))
            bits |= TIOCM_CTS;
        else if (!strcmp(word, "DSR"))
            bits |= TIOCM_DSR;
        else if (!strcmp(word, "DCD"))
            bits |= TIOCM_CAR;
        else if (!strcmp(word, "RI"))
            bits |= TIOCM_RNG;
        else if (!strcmp(word, "DTR"))
            bits |= TIOCM_DTR;
        else if (!strcmp(word, "RTS"))
            bits |= TIOCM_RTS;
        else if (!strcmp(word, "BREAK"))
            bits |= RefuseBreak;
    }
    return bits;
}

int inputs(int pts)
{
    return named(pts, "in") & (TIOCM_CTS | TIOCM_DSR | TIOCM_CAR | TIOCM_RNG);
}

// Whether the device refuses a request for the lines in `mask`; records it if so.
bool refused(int pts, int mask, bool on)
{
    const int refuse = named(pts, "refuse") & mask;
    if (!refuse)
        return false;
    record(pts, refuse & TIOCM_DTR   ? (on ? "DTR 1 refused" : "DTR 0 refused")
                : refuse & TIOCM_RTS ? (on ? "RTS 1 refused" : "RTS 0 refused")
                                     : (on ? "BREAK 1 refused" : "BREAK 0 refused"));
    errno = EINVAL;
    return true;
}

// Sets the output lines in `mask` to `on`, recording each one asked for.
void change(int pts, int mask, bool on)
{
    pthread_mutex_lock(&lock);
    Device &d = device(pts);
    for (const int line : {TIOCM_DTR, TIOCM_RTS}) {
        if (!(mask & line))
            continue;
        d.bits = on ? d.bits | line : d.bits & ~line;
        record(pts, line == TIOCM_DTR ? (on ? "DTR 1" : "DTR 0") : (on ? "RTS 1" : "RTS 0"));
    }
    pthread_mutex_unlock(&lock);
}

// A timed break, as the kernel sends it: on, the time, off.
int timedBreak(int pts, int ms)
{
    if (refused(pts, RefuseBreak, true))
        return -1;
    record(pts, "BREAK 1");
    timespec wait{ms / 1000, long(ms % 1000) * 1000000L};
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
    record(pts, "BREAK 0");
    return 0;
}

// Answers a request on a pseudo-terminal slave; false for one that goes to the
// system.
bool answer(int pts, unsigned long request, void *arg, int &result)
{
    result = 0;
    switch (request) {
    case TIOCMGET:
        pthread_mutex_lock(&lock);
        *static_cast<int *>(arg) = device(pts).bits | inputs(pts);
        pthread_mutex_unlock(&lock);
        return true;
    case TIOCMBIS:
    case TIOCMBIC: {
        const int bits = *static_cast<const int *>(arg);
        if (refused(pts, bits, request == TIOCMBIS))
            result = -1;
        else
            change(pts, bits, request == TIOCMBIS);
        return true;
    }
    case TIOCMSET: { // the lines it changes
        const int bits = *static_cast<const int *>(arg) & (TIOCM_DTR | TIOCM_RTS);
        pthread_mutex_lock(&lock);
        const int was = device(pts).bits;
        pthread_mutex_unlock(&lock);
        if (refused(pts, bits & ~was, true) || refused(pts, ~bits & was, false)) {
            result = -1;
            return true;
        }
        change(pts, bits & ~was, true);
        change(pts, ~bits & was, false);
        return true;
    }
    case TIOCSBRK:
    case TIOCCBRK:
        if (refused(pts, RefuseBreak, request == TIOCSBRK))
            result = -1;
        else
            record(pts, request == TIOCSBRK ? "BREAK 1" : "BREAK 0");
        return true;
    case TCSBRK: // a zero argument sends a break of a quarter second
        if (reinterpret_cast<long>(arg) != 0)
            return false; // tcdrain
        result = timedBreak(pts, 250);
        return true;
    case TCSBRKP: { // in tenths of a second; 0 is a quarter second
        const long tenths = reinterpret_cast<long>(arg);
        result = timedBreak(pts, tenths > 0 ? int(tenths) * 100 : 250);
        return true;
    }
    default:
        return false;
    }
}

int opened(int fd)
{
    if (fd < 0 || !folder())
        return fd;
    const int pts = ptsNumber(fd);
    if (pts < 0)
        return fd;
    pthread_mutex_lock(&lock);
    device(pts).bits = TIOCM_DTR | TIOCM_RTS;
    record(pts, "OPEN");
    pthread_mutex_unlock(&lock);
    return fd;
}

mode_t modeOf(int flags, va_list args)
{
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? mode_t(va_arg(args, int)) : 0;
}

} // namespace

extern "C" {

__attribute__((visibility("default"))) int ioctl(int fd, unsigned long request, ...) noexcept
{
    va_list args;
    va_start(args, request);
    void *arg = va_arg(args, void *);
    va_end(args);
    if (folder()) {
        const int pts = ptsNumber(fd);
        int result = 0;
        if (pts >= 0 && answer(pts, request, arg, result))
            return result;
    }
    static const IoctlFn real = next<IoctlFn>("ioctl");
    return real(fd, request, arg);
}

__attribute__((visibility("default"))) int tcsendbreak(int fd, int duration) noexcept
{
    if (folder()) {
        const int pts = ptsNumber(fd);
        // glibc's rule: a positive duration in hundreds of milliseconds, rounded up.
        if (pts >= 0)
            return timedBreak(pts, duration > 0 ? (duration + 99) / 100 * 100 : 250);
    }
    static const BreakFn real = next<BreakFn>("tcsendbreak");
    return real(fd, duration);
}

__attribute__((visibility("default"))) int open(const char *path, int flags, ...)
{
    va_list args;
    va_start(args, flags);
    const mode_t mode = modeOf(flags, args);
    va_end(args);
    static const OpenFn real = next<OpenFn>("open");
    return opened(real(path, flags, mode));
}

__attribute__((visibility("default"))) int open64(const char *path, int flags, ...)
{
    va_list args;
    va_start(args, flags);
    const mode_t mode = modeOf(flags, args);
    va_end(args);
    static const OpenFn real = next<OpenFn>("open64");
    return opened(real(path, flags, mode));
}

// What open becomes in programs built with _FORTIFY_SOURCE (ser2net's library).
__attribute__((visibility("default"))) int __open_2(const char *path, int flags)
{
    static const OpenFn real = next<OpenFn>("__open_2");
    return opened(real(path, flags));
}

__attribute__((visibility("default"))) int __open64_2(const char *path, int flags)
{
    static const OpenFn real = next<OpenFn>("__open64_2");
    return opened(real(path, flags));
}
}
