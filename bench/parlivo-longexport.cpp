// A whole book exported in one go: a 5 MB text (about three days of speech) rendered to one file
// with a worker per core. Prints the resident memory at every tenth of the text, so that growth
// with the length shows at a glance, and fails if memory grew or the file does not read back
// with the length the export reported. Run by bench/long-export; needs ~15 GB of free disk.
#include "BenchSupport.h"
#include "Exporter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QThread>

#include <sndfile.h>

#include <cstdio>

using namespace bench;

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString folder = args.size() > 1 ? args[1] : QDir::tempPath();
    const double megabytes = args.size() > 2 ? args[2].toDouble() : 5;
    const QString format = args.size() > 3 ? args[3] : QStringLiteral("wav");

    audioexport::ExportRequest request;
    request.text = prose(qsizetype(megabytes * (1 << 20)));
    request.voice = QStringLiteral("espeak:en");
    request.path = QDir(folder).filePath(QStringLiteral("parlivo-long-export.") + format);
    request.format =
        audioexport::formatForPath(request.path).value_or(audioexport::FileFormat::Wav);
    request.workers = QThread::idealThreadCount();

    const qint64 rssStart = rssKiB();
    qint64 peakGrowth = 0;
    int tenthsShown = 0;
    const qint64 start = nowNs();
    std::printf("exporting %.2f MB of text to %s with %d workers\n", megabytes,
                qPrintable(request.path), request.workers);
    std::fflush(stdout);
    audioexport::Exporter exporter(request);
    std::atomic<bool> cancel{false};
    audioexport::ExportResult result;
    try {
        result = exporter.run(cancel, [&](const audioexport::ExportProgress &p) {
            const qint64 rss = rssKiB();
            peakGrowth = std::max(peakGrowth, rss - rssStart);
            const int tenths = int(p.textDone * 10 / std::max<qsizetype>(p.textTotal, 1));
            if (tenths > tenthsShown) {
                tenthsShown = tenths;
                const double audio = p.sampleRate ? double(p.frames) / p.sampleRate : 0;
                std::printf("%3d %%  %7.1f h of audio  %6.0f s  RSS %7.1f MiB\n", tenths * 10,
                            audio / 3600, double(nowNs() - start) / 1e9, double(rss) / 1024);
                std::fflush(stdout);
            }
        });
    } catch (const std::exception &error) {
        std::fprintf(stderr, "export failed: %s\n", error.what());
        return 1;
    }
    const double wall = double(nowNs() - start) / 1e9;

    SF_INFO info{};
    SNDFILE *file = sf_open(QFile::encodeName(request.path).constData(), SFM_READ, &info);
    const qint64 bytes = QFile(request.path).size();
    if (file)
        sf_close(file);
    QFile::remove(request.path);

    std::printf("\naudio: %.1f h (%llu frames at %d Hz), file %.2f GB, read back: %lld frames "
                "(format 0x%x)\n",
                result.seconds() / 3600, static_cast<unsigned long long>(result.frames),
                result.sampleRate, double(bytes) / 1e9, file ? qlonglong(info.frames) : -1LL,
                unsigned(info.format));
    std::printf("time: %.0f s (%.0f s of audio per second)\n", wall, result.seconds() / wall);
    std::printf("RSS: %.1f MiB at the start, peak growth %.1f MiB; audio queued at most %.1f "
                "MiB\n",
                double(rssStart) / 1024, double(peakGrowth) / 1024,
                double(exporter.peakBufferedBytes()) / (1 << 20));
    const bool readsBack = file && std::uint64_t(info.frames) == result.frames;
    // The queues hold up to 4 MiB per lane; the rest is the workers' pipes and libsndfile.
    const bool bounded = peakGrowth < 64 * 1024;
    if (!readsBack)
        std::printf("FAIL: the file does not read back with the exported length\n");
    if (!bounded)
        std::printf("FAIL: memory grew with the length of the text\n");
    return readsBack && bounded && result.completed ? 0 : 1;
}
