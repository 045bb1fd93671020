#pragma once

#include <QByteArray>
#include <QString>

#include <array>
#include <memory>
#include <optional>

class KavroError;

// The file layer: files by path, and open files by number. Failures throw
// KavroError with the number the callers know (53 for a missing file).
class FileNumbers
{
public:
    FileNumbers() = default;
    ~FileNumbers();
    FileNumbers(const FileNumbers &) = delete;
    FileNumbers &operator=(const FileNumbers &) = delete;

    // Length of the file at path; nothing when there is none (the outcome
    // callers know as 53), other failures thrown.
    static std::optional<qint64> fileLength(const QString &path);
    // Deletes the plain file at path; false when there is none; 70 when it
    // may not be deleted, 75 when it is no plain file (a link, folder or
    // device).
    static bool remove(const QString &path);

    // Opens path for appending under number (creating it when missing).
    void openAppend(int number, const QString &path);
    // Writes bytes to the open file number; they may wait in a buffer until
    // the next flush.
    void write(int number, QByteArrayView bytes)
    {
        // The receive handler writes one byte at a time: a plain store, no
        // call for every character (slot() is only asked to refuse a bad
        // number).
        Slot &s =
            number >= 1 && number < int(m_slots.size()) ? m_slots[size_t(number)] : slot(number);
        if (bytes.size() == 1 && s.used < s.capacity)
            s.data[s.used++] = bytes.front();
        else
            append(s, bytes);
        if (s.used >= FlushAt)
            flush(number);
    }
    // Hands everything written so far to the operating system.
    void flush(int number);
    // Flushes and closes; nothing when the number is not open. The file is
    // closed even when the last flush fails, and then the failure is thrown.
    void close(int number);
    bool isOpen(int number) const;
    QString path(int number) const;

private:
    static constexpr qsizetype FlushAt = 64 * 1024;
    struct Slot {
        int fd = -1;
        QString path;
        // The path as the system takes it, and the file opened there (device
        // and inode), to tell at each flush whether it is still the same one.
        QByteArray nativePath;
        quint64 device = 0;
        quint64 inode = 0;
        // What waits for the next flush: `used` bytes of `capacity`. The
        // memory stays from one flush to the next.
        std::unique_ptr<char[]> data;
        qsizetype used = 0;
        qsizetype capacity = 0;
    };
    static void append(Slot &s, QByteArrayView bytes);
    Slot &slot(int number);
    const Slot &slot(int number) const;

    std::array<Slot, 256> m_slots;
};
