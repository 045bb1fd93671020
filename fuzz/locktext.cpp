// What other programs write about the ports they hold. A lock file's
// content gives a PID or none, never a negative one, and the PID as the
// programs write it reads back; a flock line of /proc/locks for a file is
// found among any other lines, and only processes the text names are.
//
// Input: the text (lock file and /proc/locks alike); at its end a PID and a
// file's device and inode.

#include "locktext.h"
#include "check.h"

#include <fuzzer/FuzzedDataProvider.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    FuzzedDataProvider in(bytes, size);
    const pid_t pid = in.ConsumeIntegralInRange<pid_t>(1, std::numeric_limits<pid_t>::max());
    const quint32 major = in.ConsumeIntegral<quint32>();
    const quint32 minor = in.ConsumeIntegral<quint32>();
    const quint64 inode = in.ConsumeIntegral<quint64>();
    const std::string rest = in.ConsumeRemainingBytesAsString();
    const QByteArray text(rest.data(), qsizetype(rest.size()));

    FUZZ_CHECK(lockFilePid(text) >= 0);
    FUZZ_CHECK(lockFilePid(QByteArray::number(pid).rightJustified(10, ' ') + '\n') == pid);

    const QByteArray file = lockedFileId(major, minor, inode);
    const QList<pid_t> holders = flockHolders(text, file);
    for (const pid_t holder : holders)
        FUZZ_CHECK(holder > 0 && text.contains(QByteArray::number(holder)));
    const QByteArray line =
        "7: FLOCK  ADVISORY  WRITE " + QByteArray::number(pid) + ' ' + file + " 0 EOF\n";
    FUZZ_CHECK(flockHolders(text + '\n' + line, file).endsWith(pid));
    FUZZ_CHECK(flockHolders(line + text, file).startsWith(pid));
    return 0;
}
