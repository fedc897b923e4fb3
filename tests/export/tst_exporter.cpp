// The export engine against the real parlivo-synth workers and real files, read back with
// libsndfile.
#include "ExportError.h"
#include "ExportTestSupport.h"
#include "Exporter.h"
#include "Segments.h"
#include "SynthClient.h"

#include "Chunker.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <QRandomGenerator>

#include <chrono>
#include <csignal>
#include <fstream>
#include <sys/fsuid.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>

using namespace audioexport;
using namespace exporttest;

namespace {

const QString kTwoSentences =
    QStringLiteral("Hello there, this is a test of the export. It has two sentences.");

struct Outcome {
    ExportResult result;
    int errorNumber = 0;
    QString error;
};

Outcome runExport(ExportRequest request, const std::atomic<bool> &cancel = {},
                  const Exporter::ProgressHandler &progress = {}) {
    Outcome outcome;
    try {
        outcome.result = Exporter(std::move(request)).run(cancel, progress);
    } catch (const ExportError &error) {
        outcome.errorNumber = error.number();
        outcome.error = error.description();
    }
    return outcome;
}

ExportRequest request(const QString &text, const QString &path, int workers = 2) {
    ExportRequest r;
    r.text = text;
    r.voice = QStringLiteral("espeak:en");
    r.path = path;
    r.format = formatForPath(path).value_or(FileFormat::Wav);
    r.workers = workers;
    return r;
}

constexpr uid_t kNobody = 65534;

#ifdef __SANITIZE_ADDRESS__
// AddressSanitizer's quarantine and shadow memory: tens of MB, still far below the GB of audio.
constexpr qint64 kSanitizerSlackKb = 64 * 1024;
#else
constexpr qint64 kSanitizerSlackKb = 0;
#endif

// Peak resident memory since the last reset (Linux keeps it per process).
qint64 peakResidentKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stoll(line.substr(6));
    }
    return -1;
}

// Caps the size of files this process writes while it lives.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &m_old);
        if (bytes == RLIM_INFINITY)
            return;
        std::signal(SIGXFSZ, SIG_IGN); // a failing write() is what we want, not the signal
        rlimit capped = m_old;
        capped.rlim_cur = bytes;
        m_set = ::setrlimit(RLIMIT_FSIZE, &capped) == 0;
    }
    ~FileSizeLimit() {
        if (m_set)
            ::setrlimit(RLIMIT_FSIZE, &m_old);
    }

private:
    rlimit m_old{};
    bool m_set = false;
};

// The processes this one started that still exist (zombies too).
std::vector<pid_t> childProcesses() {
    std::vector<pid_t> children;
    const QByteArray self = QByteArray::number(::getpid());
    for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!pid.front().isDigit() || !stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (name) state ppid ...": the name may hold spaces, so read after the last ')'.
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[1] == self)
            children.push_back(pid_t(pid.toInt()));
    }
    return children;
}

void resetPeakResident() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

} // namespace

class TestExporter : public QObject {
    Q_OBJECT
    QTemporaryDir m_root;
    int m_case = 0;
    // A fresh empty folder per case, so that leftovers of one cannot hide in another.
    QString folder() {
        const QString path = m_root.filePath(QString::number(++m_case));
        QDir().mkpath(path);
        return path;
    }

private slots:
    void initTestCase() { QVERIFY(m_root.isValid()); }

    void everyFormatReadsBack_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("voice");
        QTest::addColumn<int>("major");
        QTest::addColumn<int>("rate");
        QTest::newRow("wav") << "out.wav"
                             << "espeak:en" << int(SF_FORMAT_WAV) << 22050;
        QTest::newRow("flac") << "out.flac"
                              << "espeak:en" << int(SF_FORMAT_FLAC) << 22050;
        QTest::newRow("ogg") << "out.ogg"
                             << "espeak:en" << int(SF_FORMAT_OGG) << 22050;
        QTest::newRow("mp3") << "out.mp3"
                             << "espeak:en" << int(SF_FORMAT_MPEG) << 22050;
        QTest::newRow("flite wav") << "out.wav"
                                   << "flite:slt" << int(SF_FORMAT_WAV) << 16000;
        QTest::newRow("flite mp3") << "out.mp3"
                                   << "flite:slt" << int(SF_FORMAT_MPEG) << 16000;
    }
    void everyFormatReadsBack() {
        QFETCH(QString, name);
        QFETCH(QString, voice);
        QFETCH(int, major);
        QFETCH(int, rate);
        const QString dir = folder();
        ExportRequest r = request(kTwoSentences, dir + '/' + name);
        r.voice = voice;
        const Outcome outcome = runExport(r);
        QCOMPARE(outcome.error, QString());
        QVERIFY(outcome.result.completed);
        QCOMPARE(outcome.result.sampleRate, rate);
        QVERIFY(outcome.result.seconds() > 2.0);

        const SoundFile sound = readSound(r.path);
        QVERIFY(sound.opened);
        QCOMPARE(sound.format & SF_FORMAT_TYPEMASK, major);
        QCOMPARE(sound.sampleRate, rate);
        QCOMPARE(sound.channels, 1);
        QVERIFY(sound.frames > 0);
        QVERIFY2(sound.peak() > 1000, "the file is silent");
        if (major == SF_FORMAT_WAV || major == SF_FORMAT_FLAC)
            QCOMPARE(std::uint64_t(sound.frames), outcome.result.frames);
        QCOMPARE(entries(dir), QStringList{name});
    }

    void emptyTextGivesAnEmptyFile_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("name");
        QTest::newRow("empty wav") << ""
                                   << "empty.wav";
        QTest::newRow("blank wav") << " \r\n\t\r\n"
                                   << "blank.wav";
        QTest::newRow("empty flac") << ""
                                    << "empty.flac";
        QTest::newRow("empty mp3") << ""
                                   << "empty.mp3";
        QTest::newRow("empty ogg") << ""
                                   << "empty.ogg";
    }
    void emptyTextGivesAnEmptyFile() {
        QFETCH(QString, text);
        QFETCH(QString, name);
        const QString dir = folder();
        const Outcome outcome = runExport(request(text, dir + '/' + name));
        QCOMPARE(outcome.error, QString());
        QVERIFY(outcome.result.completed);
        QCOMPARE(outcome.result.frames, std::uint64_t(0));
        const SoundFile sound = readSound(dir + '/' + name);
        QVERIFY(sound.opened);
        QCOMPARE(sound.sampleRate, 22050);
        QCOMPARE(sound.frames, 0);
        QCOMPARE(entries(dir), QStringList{name});
    }

    // The WAV header names its sizes exactly, and turns into RF64 where 32 bits cannot hold them
    // (the limit is lowered here: the real one is 4 GiB of audio).
    void wavHeaderTellsReadersTheLength_data() {
        QTest::addColumn<int>("frames");
        QTest::addColumn<quint64>("riffLimit");
        QTest::addColumn<int>("major");
        QTest::newRow("empty") << 0 << quint64(kRiffLimit) << int(SF_FORMAT_WAV);
        QTest::newRow("short") << 12345 << quint64(kRiffLimit) << int(SF_FORMAT_WAV);
        QTest::newRow("exactly at the limit")
            << 1000 << quint64(kWavHeaderBytes - 8 + 2000) << int(SF_FORMAT_WAV);
        QTest::newRow("one frame past it")
            << 1001 << quint64(kWavHeaderBytes - 8 + 2000) << int(SF_FORMAT_RF64);
        QTest::newRow("far past it") << 70000 << quint64(1000) << int(SF_FORMAT_RF64);
    }
    void wavHeaderTellsReadersTheLength() {
        QFETCH(int, frames);
        QFETCH(quint64, riffLimit);
        QFETCH(int, major);
        std::vector<unsigned char> bytes = wavHeader(16000, std::uint64_t(frames), riffLimit);
        QCOMPARE(bytes.size(), kWavHeaderBytes);
        std::vector<std::int16_t> samples;
        for (int i = 0; i < frames; ++i)
            samples.push_back(std::int16_t(i * 7919 % 60000 - 30000));
        const auto *raw = reinterpret_cast<const unsigned char *>(samples.data());
        bytes.insert(bytes.end(), raw, raw + samples.size() * 2);
        const QString path = folder() + QLatin1String("/header.wav");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(reinterpret_cast<const char *>(bytes.data()), qint64(bytes.size()));
        file.close();

        const SoundFile sound = readSound(path);
        QVERIFY(sound.opened);
        QCOMPARE(sound.format & SF_FORMAT_TYPEMASK, major);
        QCOMPARE(sound.format & SF_FORMAT_SUBMASK, SF_FORMAT_PCM_16);
        QCOMPARE(sound.sampleRate, 16000);
        QCOMPARE(sound.channels, 1);
        QVERIFY(sound.samples == samples);
    }

    // Whatever goes wrong, the target keeps its old bytes (or stays missing) and no temporary
    // file is left next to it.
    void failuresLeaveTheTargetAlone_data() {
        // "missing", "under-file", "proc", "full" (files may not grow past 1 MB) or "" (a folder)
        QTest::addColumn<QString>("where");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("cancelAtFirstAudio");
        QTest::addColumn<int>("errorNumber");                    // 0: cancelled, no error
        const QString crash = QStringLiteral("s'").repeated(80); // aborts espeak-ng 1.51
        QTest::newRow("missing folder")
            << "missing" << kTwoSentences << false << int(ExportError::FileCreate);
        QTest::newRow("folder is a file")
            << "under-file" << kTwoSentences << false << int(ExportError::FileCreate);
        QTest::newRow("folder refuses files")
            << "proc" << kTwoSentences << false << int(ExportError::FileCreate);
        QTest::newRow("disk full")
            << "full" << mixedText(40) << false << int(ExportError::FileWrite);
        QTest::newRow("synthesiser crash") << "" << mixedText(40) + QLatin1Char(' ') + crash
                                           << false << int(ExportError::WorkerDied);
        QTest::newRow("cancelled") << "" << mixedText(200) << true << 0;
    }
    void failuresLeaveTheTargetAlone() {
        QFETCH(QString, where);
        QFETCH(QString, text);
        QFETCH(bool, cancelAtFirstAudio);
        QFETCH(int, errorNumber);
        const QString dir = folder();
        QString target = dir + QLatin1String("/old.wav");
        const QByteArray old("an older file that must survive");
        if (where == QLatin1String("missing")) {
            target = dir + QLatin1String("/no/such/folder/out.wav");
        } else if (where == QLatin1String("under-file")) {
            QFile file(dir + QLatin1String("/plain"));
            QVERIFY(file.open(QIODevice::WriteOnly));
            target = file.fileName() + QLatin1String("/out.wav");
        } else if (where == QLatin1String("proc")) {
            target = QStringLiteral("/proc/parlivo-export-test.wav");
        } else {
            QFile file(target);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(old);
        }
        const QStringList before = entries(dir);
        // A disk that fills up, as far as our writes can tell: write() fails with EFBIG.
        const bool limit = where == QLatin1String("full");
        FileSizeLimit sizeLimit(limit ? 1024 * 1024 : RLIM_INFINITY);

        std::atomic<bool> cancel{false};
        const Outcome outcome =
            runExport(request(text, target), cancel, [&](const ExportProgress &p) {
                if (cancelAtFirstAudio && p.frames > 0)
                    cancel = true;
            });
        QCOMPARE(outcome.errorNumber, errorNumber);
        QVERIFY(!outcome.result.completed);
        if (errorNumber != 0)
            QVERIFY(!outcome.error.isEmpty());
        QCOMPARE(entries(dir), before);
        if (where.isEmpty() || limit)
            QCOMPARE(contents(target), old);
        else
            QVERIFY(!QFile::exists(target));
    }

    // Each segment's substring chunks exactly as the whole text does there, so a worker given
    // only the segment synthesises the same chunks.
    // The folder is made read-only while the export runs: the finished file cannot go in, the
    // old one stays, and nothing is left behind (not even a temporary file, which could no
    // longer be removed from such a folder).
    void folderMadeReadOnlyDuringTheExport() {
        if (::getuid() != 0)
            QSKIP("needs root to act as another user for file access");
        QTemporaryDir base;
        QVERIFY(::chmod(QFile::encodeName(base.path()).constData(), 0755) == 0);
        const QString dir = base.filePath(QStringLiteral("shared"));
        QVERIFY(QDir().mkdir(dir));
        QVERIFY(::chown(QFile::encodeName(dir).constData(), kNobody, kNobody) == 0);
        const QString target = dir + QLatin1String("/old.wav");
        const QByteArray old("an older file that must survive");
        QFile file(target);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(old) == old.size());
        file.close();

        // The workers are started by threads that take this thread's identity, and the build
        // folder may be one that other users cannot enter: they run from a copy where anyone can.
        const QString worker = base.filePath(QStringLiteral("parlivo-synth"));
        QVERIFY(QFile::copy(speech::SynthClient::defaultProgram(), worker));
        QVERIFY(::chmod(QFile::encodeName(worker).constData(), 0755) == 0);
        ExportRequest r = request(mixedText(40), target, 2);
        r.workerProgram = worker;

        // Root writes anywhere; as the folder's owner (for file access, on this thread, which
        // writes the file) the permissions count.
        ::setfsuid(kNobody);
        bool changed = false;
        const Outcome outcome = runExport(r, {}, [&](const ExportProgress &p) {
            if (!changed && p.frames > 0)
                changed = ::chmod(QFile::encodeName(dir).constData(), 0555) == 0;
        });
        ::setfsuid(::getuid());
        ::chmod(QFile::encodeName(dir).constData(), 0755);
        QVERIFY(changed);
        QCOMPARE(outcome.errorNumber, int(ExportError::FileWrite));
        QVERIFY2(outcome.error.contains(QLatin1String("Permission denied")),
                 qPrintable(outcome.error));
        QCOMPARE(entries(dir), QStringList{QStringLiteral("old.wav")});
        QCOMPARE(contents(target), old);
    }

    // A worker killed at any moment of a long export: the export fails with the reason, leaves
    // the old file and no temporary one, and no worker process lingers.
    void workerKilledAtRandomMoments() {
        const QString dir = folder();
        const QString target = dir + QLatin1String("/old.wav");
        const QByteArray old("an older file that must survive");
        QFile file(target);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(old) == old.size());
        file.close();
        const QString text = mixedText(3000); // far longer than the moments below
        QRandomGenerator random(20261208);
        // A worker of an earlier test may still be on its way out (a sanitizer's checks at exit
        // take a while); killed, it would end nothing of this export's.
        QTRY_VERIFY_WITH_TIMEOUT(childProcesses().empty(), 30000);
        QByteArray whole; // the export nothing was killed in, made if a round needs it
        int died = 0;
        for (int round = 0; round < 5; ++round) {
            const int afterMs = random.bounded(100, 1500);
            std::atomic<bool> killed{false};
            std::thread killer([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(afterMs));
                const std::vector<pid_t> workers = childProcesses();
                if (!workers.empty()) {
                    const pid_t victim = workers[random.bounded(int(workers.size()))];
                    killed = ::kill(victim, SIGKILL) == 0;
                }
            });
            const Outcome outcome = runExport(request(text, target, 2));
            killer.join();
            QVERIFY2(killed, "no worker was running to be killed");
            if (outcome.errorNumber == 0) {
                // A lane ends its worker once its share is rendered: the victim had done its
                // part and was on its way out. Nothing may be lost.
                if (whole.isEmpty()) {
                    const QString reference = dir + QLatin1String("/reference.wav");
                    QCOMPARE(runExport(request(text, reference, 2)).errorNumber, 0);
                    whole = contents(reference);
                    QVERIFY(QFile::remove(reference));
                }
                QCOMPARE(contents(target), whole);
                QVERIFY(file.open(QIODevice::WriteOnly) && file.write(old) == old.size());
                file.close();
                QTRY_VERIFY(childProcesses().empty());
                continue;
            }
            QCOMPARE(outcome.errorNumber, int(ExportError::WorkerDied));
            ++died;
            QVERIFY(!outcome.error.isEmpty());
            QCOMPARE(entries(dir), QStringList{QStringLiteral("old.wav")});
            QCOMPARE(contents(target), old);
            QTRY_VERIFY(childProcesses().empty());
        }
        QVERIFY(died > 0);
    }

    void segmentsCutWhereTheSynthesiserCuts_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("target");
        QTest::newRow("mixed, small runs") << mixedText(60) << 150;
        QTest::newRow("mixed, one chunk each") << mixedText(60) << 1;
        QTest::newRow("one enormous word") << QStringLiteral("x").repeated(3000) << 200;
        QTest::newRow("surrogates across cuts")
            << QStringLiteral("\U0001F600").repeated(1000) + QStringLiteral(". End.") << 300;
        QTest::newRow("trailing blank lines") << mixedText(9) + QStringLiteral("\r\n \r\n") << 100;
    }
    void segmentsCutWhereTheSynthesiserCuts() {
        QFETCH(QString, text);
        QFETCH(int, target);
        namespace t = parlivo::text;
        const auto chunksOf = [](std::u16string_view units, std::size_t offset) {
            std::vector<t::Chunk> chunks;
            std::size_t at = 0;
            for (;;) {
                const t::ChunkResult next = t::nextChunk(units, at, true);
                if (next.status != t::ChunkStatus::Ready)
                    return chunks;
                chunks.push_back({next.chunk.start + offset, next.chunk.length});
                at = next.chunk.start + next.chunk.length;
            }
        };
        const std::u16string_view whole(reinterpret_cast<const char16_t *>(text.utf16()),
                                        std::size_t(text.size()));
        std::vector<t::Chunk> pieced;
        const std::vector<Segment> segments = splitIntoSegments(text, target);
        QVERIFY(segments.size() > 2);
        for (const Segment &s : segments) {
            const auto part = chunksOf(whole.substr(std::size_t(s.start), std::size_t(s.length)),
                                       std::size_t(s.start));
            QVERIFY(!part.empty());
            pieced.insert(pieced.end(), part.begin(), part.end());
        }
        QVERIFY(pieced == chunksOf(whole, 0));
    }

    // However many workers share the text, the file is the same to the last sample.
    void workersGiveIdenticalAudio_data() {
        QTest::addColumn<QString>("voice");
        QTest::addColumn<int>("wpm");
        QTest::newRow("espeak-ng, default speed") << "espeak:en" << 0;
        QTest::newRow("espeak-ng, stretched below its floor") << "espeak:en" << 60;
        QTest::newRow("flite") << "flite:slt" << 220;
        QTest::newRow("automatic, paragraphs in three languages") << "auto" << 0;
    }
    void workersGiveIdenticalAudio() {
        QFETCH(QString, voice);
        QFETCH(int, wpm);
        const QString dir = folder();
        QString text = mixedText(40);
        if (voice == QLatin1String("auto")) {
            // Each worker's share starts afresh, yet every paragraph gets the same voice, and a
            // heading the one of the paragraph after it.
            QStringList paragraphs;
            for (int i = 0; i < 6; ++i)
                paragraphs << QStringLiteral("Part %1").arg(i)
                           << QStringLiteral("The weather was pleasant this morning, so we walked "
                                             "along the river to the old market.")
                           << QStringLiteral("Il faisait beau ce matin, alors nous avons marché le "
                                             "long de la rivière jusqu'au vieux marché.")
                           << QStringLiteral("Das Wetter war heute Morgen angenehm, also gingen "
                                             "wir am Fluss entlang zum alten Markt.");
            text = paragraphs.join(QStringLiteral("\r\n"));
        }
        QByteArray first;
        for (int workers : {1, 2, 3}) {
            ExportRequest r = request(text, dir + QStringLiteral("/w%1.wav").arg(workers), workers);
            r.voice = voice;
            r.wpm = wpm;
            r.segmentUnits = 300; // many segments, so every lane renders several
            const Outcome outcome = runExport(r);
            QCOMPARE(outcome.error, QString());
            const QByteArray bytes = contents(r.path);
            QVERIFY(bytes.size() > 100000);
            if (first.isEmpty())
                first = bytes;
            else
                QVERIFY2(bytes == first,
                         qPrintable(QStringLiteral("%1 workers differ from one").arg(workers)));
        }
        if (voice == QLatin1String("auto")) { // and it is not one voice reading everything
            ExportRequest r = request(text, dir + QStringLiteral("/one.wav"));
            r.segmentUnits = 300;
            QCOMPARE(runExport(r).error, QString());
            QVERIFY(contents(r.path).size() != first.size());
        }
    }

    // Hours of audio pass through while the audio held in memory stays at the lanes' bound.
    void longTextKeepsMemoryBounded() {
        const QString dir = folder();
        QString text;
        while (text.size() < 1024 * 1024)
            text += mixedText(100) + QStringLiteral("\r\n");
        ExportRequest r = request(text, dir + QLatin1String("/long.wav"), 2);
        r.wpm = 400; // less audio per character: the same test in less disk and time
        resetPeakResident();
        const qint64 before = peakResidentKb();
        Exporter exporter(r);
        std::atomic<bool> cancel{false};
        ExportResult result;
        try {
            result = exporter.run(cancel);
        } catch (const ExportError &error) {
            QFAIL(qPrintable(error.description()));
        }
        const qint64 growthKb = peakResidentKb() - before;
        const qint64 audioKb = qint64(result.frames * 2 / 1024);
        QFile::remove(r.path);
        qInfo("%.0f s of audio (%lld MB); peak queued %zu KB; peak memory grew by %lld KB",
              result.seconds(), audioKb / 1024, exporter.peakBufferedBytes() / 1024, growthKb);
        QVERIFY(result.completed);
        QVERIFY(audioKb > 500 * 1024);
        // Two lanes' queues, plus one block that may enter a full one.
        QVERIFY(exporter.peakBufferedBytes() <= 2 * Exporter::kLaneSamples * 2 + 256 * 1024);
        QVERIFY2(growthKb < 48 * 1024 + kSanitizerSlackKb,
                 "memory grew with the length of the text");
    }
};

QTEST_GUILESS_MAIN(TestExporter)
#include "tst_exporter.moc"
