#pragma once
// Reading a whole file and appending to one, with POSIX calls so that every failure has its
// errno and nothing is ever half done: a read either gets the whole file or fails, an append
// either lands completely (and on disk) or the file is put back as it was.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstddef>
#include <functional>
#include <stdexcept>
#include <sys/types.h>

namespace documents {

// A file operation that failed: the errno (0 if the failure has none) and a short reason for
// the user, such as "No such file or directory".
class FileError : public std::runtime_error {
public:
    FileError(int number, const QString &reason);
    int number() const { return m_number; }
    const QString &reason() const { return m_reason; }

private:
    int m_number;
    QString m_reason;
};

// Files larger than this are refused: the text widget needs about nine bytes per byte of text.
inline constexpr qint64 kMaxOpenSize = qint64(256) * 1024 * 1024;

// The read(2) call readWholeFile uses; a test puts one in its place that changes the file
// between calls.
using ReadFunction = std::function<ssize_t(int fd, void *data, std::size_t size)>;
ssize_t posixRead(int fd, void *data, std::size_t size);

// The whole content of the regular file at `path`. Throws FileError for anything else: a missing
// or unreadable file, a directory, a FIFO or device (refused before any read, so it never
// blocks), or a file over `maxSize` bytes. A file that grows or shrinks while it is read gives
// what it held up to the end seen by the last read, and the size limit holds for what is read,
// not only for the size the file had at the start.
QByteArray readWholeFile(const QString &path, qint64 maxSize = kMaxOpenSize,
                         const ReadFunction &read = posixRead);

// The write(2) call appendToFile uses; a test puts a failing one in its place.
using WriteFunction = std::function<ssize_t(int fd, const void *data, std::size_t size)>;
ssize_t posixWrite(int fd, const void *data, std::size_t size);

// Appends `bytes` to the regular file at `path`, creating it if missing, and waits until they
// are on disk. On any failure the file is truncated back to its old length (or removed if this
// call created it) and FileError is thrown.
void appendToFile(const QString &path, QByteArrayView bytes,
                  const WriteFunction &write = posixWrite);

} // namespace documents
