// parlivo-extract: reads one document into text for the window, in a process of its own with
// limits on memory, time and output, so that a hostile file can crash, hang or bloat only this.
//
// Usage: parlivo-extract FORMAT FILE. FORMAT is a name from formats::formatName(). On success the
// text goes to standard output in UTF-8, one paragraph per line, and the exit status is 0. A file
// that cannot be read exits with kExitUnreadable and the message for the user on standard output.
// Standard error carries "progress DONE TOTAL" lines while a long document is read.

#include "Encoding.h"
#include "ExtractError.h"
#include "Fb2Reader.h"
#include "Format.h"
#include "HtmlReader.h"
#include "MarkdownReader.h"
#include "PackageReaders.h"
#include "PdfReader.h"
#include "Progress.h"
#include "RtfReader.h"
#include "Subtitles.h"
#include "TextBuilder.h"
#include "WordReader.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <new>

namespace {

constexpr int kExitUnreadable = 3;
constexpr int kExitNoMemory = 4;
constexpr int kExitUsage = 64;

// A document larger than this is not a document anyone wants read aloud in one piece.
constexpr qint64 kMaxFileBytes = qint64(512) * 1024 * 1024;
constexpr rlim_t kMaxMemoryBytes = rlim_t(2) * 1024 * 1024 * 1024;
constexpr rlim_t kMaxCpuSeconds = 30;

void limitResources() {
    // Sanitizer builds reserve terabytes of address space up front: an address-space limit
    // would stop them before main().
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    const rlimit memory{kMaxMemoryBytes, kMaxMemoryBytes};
    setrlimit(RLIMIT_AS, &memory);
#endif
    const rlimit cpu{kMaxCpuSeconds, kMaxCpuSeconds};
    setrlimit(RLIMIT_CPU, &cpu);
    const rlimit none{0, 0};
    setrlimit(RLIMIT_CORE, &none);
}

bool writeAll(const QByteArray &bytes) {
    const char *at = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(STDOUT_FILENO, at, std::size_t(left));
        if (n <= 0)
            return false;
        at += n;
        left -= n;
    }
    return true;
}

// "progress DONE TOTAL" lines on standard error, for the window's progress bar; one a percent.
void printProgress(int done, int total) {
    static int lastPercent = -1;
    const int percent = total > 0 ? int(qint64(done) * 100 / total) : 0;
    if (percent == lastPercent)
        return;
    lastPercent = percent;
    std::fprintf(stderr, "progress %d %d\n", done, total);
    std::fflush(stderr);
}

QString extractText(formats::Format format, const QByteArray &bytes) {
    using formats::Format;
    const extract::Limits limits;
    switch (format) {
    case Format::PlainText:
    case Format::Text:
        return extract::decodeText(bytes);
    case Format::Subtitles:
        return extract::subtitlesToText(extract::decodeText(bytes), limits);
    case Format::Html:
        return extract::htmlToText(extract::decodeHtml(bytes).toUtf8(), limits);
    case Format::Markdown:
        return extract::markdownToText(extract::decodeText(bytes).toUtf8(), limits);
    case Format::Fb2:
        return extract::fb2ToText(bytes, limits);
    case Format::Docx:
        return extract::docxToText(bytes, limits);
    case Format::Odt:
        return extract::odtToText(bytes, limits);
    case Format::Epub:
        return extract::epubToText(bytes, limits);
    case Format::Pdf:
        return extract::pdfToText(bytes, limits);
    case Format::Rtf:
        return extract::rtfToText(bytes, limits);
    default:
        throw extract::ExtractError(extract::ExtractError::Kind::Unsupported,
                                    QStringLiteral("Documents of this kind cannot be read yet."));
    }
}

} // namespace

int main(int argc, char **argv) {
    limitResources();
    extract::setProgressReporter(printProgress);
    if (argc != 3) {
        std::fputs("usage: parlivo-extract FORMAT FILE\n", stderr);
        return kExitUsage;
    }
    const formats::Format format = formats::formatFromName(QString::fromUtf8(argv[1]));
    try {
        QFile file(QString::fromLocal8Bit(argv[2]));
        if (!file.open(QIODevice::ReadOnly))
            throw extract::ExtractError(extract::ExtractError::Kind::Damaged,
                                        QStringLiteral("The file could not be read."));
        if (file.size() > kMaxFileBytes)
            throw extract::ExtractError::tooLarge();
        // The Word reader takes the path: catdoc, for the files it leaves, reads the file itself.
        const QString text = format == formats::Format::Doc
                                 ? extract::wordToText(file.fileName(), extract::Limits())
                                 : extractText(format, file.readAll());
        return writeAll(text.toUtf8()) ? 0 : 1;
    } catch (const extract::ExtractError &error) {
        writeAll(error.message().toUtf8());
        return kExitUnreadable;
    } catch (const std::bad_alloc &) {
        return kExitNoMemory;
    }
}
