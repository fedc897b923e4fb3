#include "WordReader.h"

#include "DocReader.h"

#include <QFile>

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>

namespace extract {
namespace {

// Exit status of the child when catdoc could not be started at all.
constexpr int kNotInstalled = 127;

QByteArray catdocProgram() {
    const QByteArray fromEnv = qgetenv("PARLIVO_CATDOC");
    return fromEnv.isEmpty() ? QByteArrayLiteral("catdoc") : fromEnv;
}

struct Child {
    pid_t pid = -1;
    int output = -1;
};

Child startCatdoc(const QString &path) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        throw ExtractError::damaged();
    const QByteArray program = catdocProgram();
    const QByteArray file = QFile::encodeName(path);
    // -w: no wrapping, so each paragraph is one line; -d: UTF-8 whatever the locale says.
    std::array<const char *, 6> argv{program.constData(), "-w",   "-d", "utf-8",
                                     file.constData(),    nullptr};
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        throw ExtractError::damaged();
    }
    if (pid == 0) {
        // The window kills only this worker when it gives up on a file: catdoc goes with it.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::dup2(pipeFds[1], STDOUT_FILENO);
        const int null = ::open("/dev/null", O_WRONLY);
        if (null >= 0)
            ::dup2(null, STDERR_FILENO);
        ::execvp(argv[0], const_cast<char *const *>(argv.data()));
        ::_exit(kNotInstalled);
    }
    ::close(pipeFds[1]);
    return {pid, pipeFds[0]};
}

int waitFor(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

} // namespace

QString catdocOutputToText(QByteArrayView output, const Limits &limits) {
    TextBuilder out(limits);
    const QString text = QString::fromUtf8(output);
    for (const QStringView line : QStringView(text).tokenize(u'\n')) {
        for (const QStringView page : line.tokenize(u'\f')) {
            // A table row: its cells, each read once, with a comma between them.
            bool firstCell = true;
            for (const QStringView cell : page.tokenize(u'\t')) {
                if (cell.trimmed().isEmpty())
                    continue;
                if (!firstCell)
                    out.add(u",");
                out.add(u" ");
                out.add(cell);
                firstCell = false;
            }
            out.endParagraph();
        }
    }
    return out.finish();
}

namespace {

QString catdocToText(const QString &path, const Limits &limits) {
    const Child child = startCatdoc(path);
    // UTF-8 takes at most three bytes for each UTF-16 unit the limit counts.
    const qsizetype maxBytes = limits.maxChars * 3 + 4;
    QByteArray output;
    bool tooLarge = false;
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(child.output, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        output.append(buffer, n);
        if (output.size() > maxBytes) {
            tooLarge = true;
            ::kill(child.pid, SIGKILL);
            break;
        }
    }
    ::close(child.output);
    const int status = waitFor(child.pid);
    if (tooLarge)
        throw ExtractError::tooLarge();
    if (WIFEXITED(status) && WEXITSTATUS(status) == kNotInstalled)
        throw ExtractError(ExtractError::Kind::Unsupported,
                           QStringLiteral("Word 97-2003 documents need the catdoc program, "
                                          "which is not installed."));
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw ExtractError::damaged();
    return catdocOutputToText(output, limits);
}

} // namespace

QString wordToText(const QString &path, const Limits &limits) {
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        if (std::optional<QString> text = docToText(file.readAll(), limits))
            return *text;
    }
    return catdocToText(path, limits);
}

} // namespace extract
