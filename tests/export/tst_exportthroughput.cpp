// Export throughput, measured and reported, never asserted: seconds of audio per second of wall
// time for one and two workers, against the espeak-ng command line on the same text, voice
// and speed. Takes a few minutes and a few GB of disk, so it runs only with
// PARLIVO_MEASURE_EXPORT=1.
#include "ExportError.h"
#include "ExportTestSupport.h"
#include "Exporter.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace audioexport;
using namespace exporttest;

class TestExportThroughput : public QObject {
    Q_OBJECT

private slots:
    void againstTheEspeakCommandLine() {
        if (qEnvironmentVariableIntValue("PARLIVO_MEASURE_EXPORT") != 1)
            QSKIP("set PARLIVO_MEASURE_EXPORT=1 to measure");
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QString text;
        while (text.size() < 1000 * 1000)
            text += mixedText(60) + QStringLiteral("\r\n");
        const QString textFile = dir.filePath(QStringLiteral("text.txt"));
        {
            QFile file(textFile);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(text.toUtf8());
        }

        double ours[3] = {};
        for (int workers : {1, 2}) {
            ExportRequest r;
            r.text = text;
            r.voice = QStringLiteral("espeak:en");
            r.path = dir.filePath(QStringLiteral("ours.wav"));
            r.workers = workers;
            std::atomic<bool> cancel{false};
            QElapsedTimer clock;
            clock.start();
            ExportResult result;
            try {
                result = Exporter(r).run(cancel);
            } catch (const ExportError &error) {
                QFAIL(qPrintable(error.description()));
            }
            const double wall = double(clock.nsecsElapsed()) / 1e9;
            ours[workers] = result.seconds() / wall;
            qInfo("export, %d worker(s): %.0f s of audio in %.1f s: %.0f s/s", workers,
                  result.seconds(), wall, ours[workers]);
            QFile::remove(r.path);
        }

        const QString theirs = dir.filePath(QStringLiteral("espeak.wav"));
        QElapsedTimer clock;
        clock.start();
        const int status =
            QProcess::execute(QStringLiteral("espeak-ng"),
                              {QStringLiteral("-v"), QStringLiteral("en"), QStringLiteral("-w"),
                               theirs, QStringLiteral("-f"), textFile});
        const double wall = double(clock.nsecsElapsed()) / 1e9;
        if (status != 0)
            QSKIP("the espeak-ng command line is not available");
        SF_INFO info{};
        SNDFILE *sound = sf_open(QFile::encodeName(theirs).constData(), SFM_READ, &info);
        QVERIFY(sound);
        sf_close(sound);
        const double seconds = double(info.frames) / info.samplerate;
        QFile::remove(theirs);
        const double reference = seconds / wall;
        qInfo("espeak-ng -w: %.0f s of audio in %.1f s: %.0f s/s", seconds, wall, reference);
        qInfo("ratio to espeak-ng -w: 1 worker %.2f, 2 workers %.2f", ours[1] / reference,
              ours[2] / reference);
    }
};

QTEST_GUILESS_MAIN(TestExportThroughput)
#include "tst_exportthroughput.moc"
