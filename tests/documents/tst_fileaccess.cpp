// Reading a whole file and appending to one, on real files: what is refused, and that a failed
// append leaves the file exactly as it was.
#include "FileAccess.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <sys/fsuid.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using documents::FileError;

namespace {

void writeFile(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray contents(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// The FileError `action` throws; fails the test if it throws nothing.
template <typename Action> FileError errorOf(Action action) {
    try {
        action();
    } catch (const FileError &error) {
        return error;
    }
    return FileError(-1, QStringLiteral("no error was thrown"));
}

} // namespace

class TestFileAccess : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString path(const char *name) const { return m_dir.filePath(QLatin1String(name)); }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void readsTheWholeFile() {
        QByteArray big(3 * 1024 * 1024 + 7, 'x');
        big[0] = '\0';
        writeFile(path("big"), big);
        QCOMPARE(documents::readWholeFile(path("big")), big);
        writeFile(path("empty"), {});
        QCOMPARE(documents::readWholeFile(path("empty")), QByteArray());
    }

    void refusesWhatIsNoDocument() {
        QCOMPARE(errorOf([&] { documents::readWholeFile(path("missing")); }).number(), ENOENT);
        QCOMPARE(errorOf([&] { documents::readWholeFile(m_dir.path()); }).number(), EISDIR);
        const FileError device = errorOf([] { documents::readWholeFile("/dev/zero"); });
        QVERIFY2(device.reason().contains(QLatin1String("device")), qPrintable(device.reason()));

        // Nobody writes to this FIFO: a blocking open or read would hang the test.
        QVERIFY(::mkfifo(QFile::encodeName(path("fifo")).constData(), 0600) == 0);
        QElapsedTimer timer;
        timer.start();
        const FileError fifo = errorOf([&] { documents::readWholeFile(path("fifo")); });
        QVERIFY2(fifo.reason().contains(QLatin1String("pipe")), qPrintable(fifo.reason()));
        QVERIFY(timer.elapsed() < 5000);
    }

    void refusesFilesOverTheLimit() {
        writeFile(path("ten"), QByteArray(10, 'a'));
        QCOMPARE(documents::readWholeFile(path("ten"), 10).size(), 10);
        QCOMPARE(errorOf([&] { documents::readWholeFile(path("ten"), 9); }).number(), EFBIG);
    }

    void refusesAnUnreadableFile() {
        writeFile(path("secret"), "x");
        QVERIFY(QFile::setPermissions(path("secret"), {}));
        // Root reads any file; as anyone else (for file access only) the permissions count.
        ::setfsuid(65534);
        const FileError error = errorOf([&] { documents::readWholeFile(path("secret")); });
        ::setfsuid(::getuid());
        QCOMPARE(error.number(), EACCES);
    }

    void appendsAndCreates() {
        const QString file = path("out");
        documents::appendToFile(file, "one\r\n");
        documents::appendToFile(file, "one\r\n");
        QCOMPARE(contents(file), QByteArray("one\r\none\r\n"));
        writeFile(path("kept"), "old");
        documents::appendToFile(path("kept"), "new");
        QCOMPARE(contents(path("kept")), QByteArray("oldnew"));
    }

    // A write that stops half way: the old content is back byte for byte, a new file is gone.
    void rollsBackAFailedWrite_data() {
        QTest::addColumn<int>("failure");
        QTest::addColumn<bool>("returnsZero");
        QTest::newRow("disk full") << ENOSPC << false;
        QTest::newRow("io error") << EIO << false;
        QTest::newRow("write takes nothing") << 0 << true;
    }
    void rollsBackAFailedWrite() {
        QFETCH(int, failure);
        QFETCH(bool, returnsZero);
        int calls = 0;
        const documents::WriteFunction halfThenFail = [&](int fd, const void *data,
                                                          std::size_t size) -> ssize_t {
            if (calls++ == 0)
                return ::write(fd, data, size / 2);
            if (returnsZero)
                return 0;
            errno = failure;
            return -1;
        };
        const QByteArray old("existing\r\nbytes\0\xFF", 17);
        writeFile(path("existing"), old);
        const FileError error = errorOf(
            [&] { documents::appendToFile(path("existing"), "the new text", halfThenFail); });
        QCOMPARE(error.number(), returnsZero ? ENOSPC : failure);
        QCOMPARE(contents(path("existing")), old);

        calls = 0;
        QCOMPARE(errorOf([&] {
                     documents::appendToFile(path("created"), "the new text", halfThenFail);
                 }).number(),
                 error.number());
        QVERIFY(!QFile::exists(path("created")));
    }

    void retriesAnInterruptedWrite() {
        bool interrupted = false;
        const documents::WriteFunction interruptOnce = [&](int fd, const void *data,
                                                           std::size_t size) -> ssize_t {
            if (!interrupted) {
                interrupted = true;
                errno = EINTR;
                return -1;
            }
            return ::write(fd, data, size);
        };
        documents::appendToFile(path("eintr"), "abc", interruptOnce);
        QCOMPARE(contents(path("eintr")), QByteArray("abc"));
    }

    // The kernel itself cuts the write short and then fails it, as on a full disk: a file size
    // limit a few bytes above the old size.
    void rollsBackARealShortWrite() {
        const QByteArray old("0123456789");
        writeFile(path("limited"), old);
        rlimit saved{};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &saved) == 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved;
        limit.rlim_cur = rlim_t(old.size() + 4);
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &limit) == 0);
        const FileError error =
            errorOf([&] { documents::appendToFile(path("limited"), QByteArray(100, 'n')); });
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
        QCOMPARE(error.number(), EFBIG);
        QCOMPARE(contents(path("limited")), old);
    }

    void refusesWhereItCannotAppend() {
        QCOMPARE(errorOf([&] { documents::appendToFile(path("no/such/dir/f"), "x"); }).number(),
                 ENOENT);
        QVERIFY(!QFile::exists(path("no")));
        QCOMPARE(errorOf([&] { documents::appendToFile(m_dir.path(), "x"); }).number(), EISDIR);
        // A device cannot be put back as it was; /dev/full would also fail every write.
        const FileError device = errorOf([] { documents::appendToFile("/dev/full", "x"); });
        QVERIFY2(device.reason().contains(QLatin1String("device")), qPrintable(device.reason()));
    }
};

QTEST_APPLESS_MAIN(TestFileAccess)
#include "tst_fileaccess.moc"
