#include "FileAccess.h"

#include <QFile>
#include <QFileInfo>
#include <QObject>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace documents {

namespace {

QString errnoText(int number) {
    return QString::fromStdString(std::system_category().message(number));
}

[[noreturn]] void throwErrno(int number) {
    throw FileError(number, errnoText(number));
}

// Closes the descriptor when the scope ends, whichever way it ends.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd)
        : m_fd(fd) {}
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    ~FileDescriptor() {
        // Reached on error paths only, after the real error was taken; a second error from
        // close() would say nothing new.
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int get() const { return m_fd; }
    // Closes now and reports close()'s own error, which for a file being written can be the
    // first news of a failed write.
    int close() {
        const int result = ::close(m_fd);
        m_fd = -1;
        return result == 0 ? 0 : errno;
    }

private:
    int m_fd;
};

// Reading a FIFO, a terminal or a device can block forever or have side effects, and a
// directory has no text: only regular files are documents.
void requireRegularFile(const struct stat &info) {
    if (S_ISREG(info.st_mode))
        return;
    if (S_ISDIR(info.st_mode))
        throwErrno(EISDIR);
    if (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode))
        throw FileError(0, QObject::tr("It is a pipe or socket, not a file"));
    if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode))
        throw FileError(0, QObject::tr("It is a device, not a file"));
    throw FileError(0, QObject::tr("It is not a regular file"));
}

void requireSize(qint64 size, qint64 maxSize) {
    if (size > maxSize)
        throw FileError(EFBIG, QObject::tr("It is larger than %1 MiB").arg(maxSize >> 20));
}

} // namespace

FileError::FileError(int number, const QString &reason)
    : std::runtime_error(reason.toStdString())
    , m_number(number)
    , m_reason(reason) {}

ssize_t posixRead(int fd, void *data, std::size_t size) {
    return ::read(fd, data, size);
}

QByteArray readWholeFile(const QString &path, qint64 maxSize, const ReadFunction &read) {
    const QByteArray name = QFile::encodeName(path);
    // Look before opening: opening some devices already does something.
    struct stat info {};
    if (::stat(name.constData(), &info) != 0)
        throwErrno(errno);
    requireRegularFile(info);
    requireSize(info.st_size, maxSize);

    // O_NONBLOCK: if the path was swapped for a FIFO since the stat, open() still returns at
    // once and the fstat below refuses it.
    FileDescriptor fd(::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0)
        throwErrno(errno);
    if (::fstat(fd.get(), &info) != 0)
        throwErrno(errno);
    requireRegularFile(info);
    requireSize(info.st_size, maxSize);

    // Read until end of file, not just st_size bytes: the file may have grown since.
    QByteArray bytes(qsizetype(info.st_size) + 1, Qt::Uninitialized);
    qsizetype filled = 0;
    for (;;) {
        if (filled == bytes.size()) {
            requireSize(filled, maxSize);
            bytes.resize(std::min<qint64>(bytes.size() * 2, maxSize + 1));
        }
        const ssize_t got = read(fd.get(), bytes.data() + filled, size_t(bytes.size() - filled));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            throwErrno(errno);
        }
        if (got == 0)
            break;
        filled += got;
    }
    requireSize(filled, maxSize);
    bytes.truncate(filled);
    return bytes;
}

ssize_t posixWrite(int fd, const void *data, std::size_t size) {
    return ::write(fd, data, size);
}

namespace {

// Opens `name` for appending; creates it only if it does not exist yet, and says whether it did,
// so a failed save knows whether to remove the file or cut it back.
std::pair<int, bool> openForAppend(const QByteArray &name) {
    constexpr int flags = O_WRONLY | O_APPEND | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
    for (;;) {
        const int fd = ::open(name.constData(), flags);
        if (fd >= 0)
            return {fd, false};
        if (errno != ENOENT)
            throwErrno(errno);
        const int created = ::open(name.constData(), flags | O_CREAT | O_EXCL, 0666);
        if (created >= 0)
            return {created, true};
        // Someone else created it between the two calls: append to theirs.
        if (errno != EEXIST)
            throwErrno(errno);
    }
}

void writeAll(int fd, QByteArrayView bytes, const WriteFunction &write) {
    const char *data = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = write(fd, data, size_t(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            throwErrno(errno);
        }
        // A regular file that takes nothing is full without saying so.
        if (written == 0)
            throwErrno(ENOSPC);
        data += written;
        left -= written;
    }
}

// Makes a new file's name durable too, not only its content.
void syncDirectoryOf(const QString &path) {
    const QByteArray dir = QFile::encodeName(QFileInfo(path).absolutePath());
    FileDescriptor fd(::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    // The file's own data is already on disk; a file system that cannot sync directories
    // (some network ones) is no reason to call the save failed.
    if (fd.get() >= 0)
        ::fsync(fd.get());
}

} // namespace

void appendToFile(const QString &path, QByteArrayView bytes, const WriteFunction &write) {
    const QByteArray name = QFile::encodeName(path);
    // Look before opening: opening a FIFO or device for writing can block or act on it.
    struct stat info {};
    if (::stat(name.constData(), &info) == 0)
        requireRegularFile(info);
    const auto [rawFd, created] = openForAppend(name);
    FileDescriptor fd(rawFd);

    // The path may have been swapped since the look; this is what we really write to.
    const bool known = ::fstat(fd.get(), &info) == 0;
    if (!known || !S_ISREG(info.st_mode)) {
        const int number = errno;
        // Nothing was written yet, so only a file this call created has to go; if even that
        // fails, it is an empty file, and the error below is the one that matters.
        if (created)
            ::unlink(name.constData());
        if (!known)
            throwErrno(number);
        requireRegularFile(info);
    }
    const off_t oldSize = info.st_size;

    // Puts the file back as it was after `error` made the save fail.
    auto rollBack = [&](const FileError &error, bool fdOpen) {
        bool restored = false;
        if (created)
            restored = ::unlink(name.constData()) == 0;
        else if (fdOpen)
            restored = ::ftruncate(fd.get(), oldSize) == 0 && ::fsync(fd.get()) == 0;
        else
            restored = ::truncate(name.constData(), oldSize) == 0;
        if (restored)
            return error;
        return FileError(error.number(), QObject::tr("%1; putting the file back failed too: %2")
                                             .arg(error.reason(), errnoText(errno)));
    };

    try {
        writeAll(fd.get(), bytes, write);
        if (::fsync(fd.get()) != 0)
            throwErrno(errno);
    } catch (const FileError &error) {
        throw rollBack(error, true);
    }
    if (const int number = fd.close())
        throw rollBack(FileError(number, errnoText(number)), false);
    if (created)
        syncDirectoryOf(path);
}

} // namespace documents
