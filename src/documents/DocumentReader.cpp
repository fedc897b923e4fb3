#include "DocumentReader.h"

#include "AppTitle.h"
#include "FileAccess.h"
#include "HelperPrograms.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QProcess>
#include <QProgressBar>
#include <QProgressDialog>
#include <QTimer>

#include <algorithm>

namespace documents {
namespace {

// What parlivo-extract's exit statuses mean (see src/extract/main.cpp).
constexpr int kExitUnreadable = 3;
constexpr int kExitNoMemory = 4;

// More text than the window can hold anyway (see kMaxOpenSize).
constexpr qsizetype kMaxTextBytes = qsizetype(256) * 1024 * 1024;
// A short read shows no dialog: the window only holds back input for that long.
constexpr int kQuietMs = 400;

int timeLimitSeconds() {
    bool ok = false;
    const int fromEnv = qEnvironmentVariableIntValue("PARLIVO_EXTRACT_SECONDS", &ok);
    return ok && fromEnv > 0 ? fromEnv : 30;
}

QString withoutFullStop(QString message) {
    // The box adds its own.
    while (message.endsWith(u'.'))
        message.chop(1);
    return message;
}

} // namespace

QString readerProgram() {
    return helperProgram("PARLIVO_EXTRACT", QStringLiteral("parlivo-extract"));
}

std::optional<QByteArray> readThroughReader(QWidget *parent, const QString &path,
                                            formats::Format format) {
    QProcess reader;
    reader.setProgram(readerProgram());
    reader.setArguments({formats::formatName(format), path});
    reader.setStandardInputFile(QProcess::nullDevice());

    QByteArray text;
    bool tooMuch = false;
    bool timedOut = false;
    bool cancelled = false;
    bool failedToStart = false;
    QEventLoop loop;
    QObject::connect(&reader, &QProcess::readyReadStandardOutput, &loop, [&] {
        text += reader.readAllStandardOutput();
        if (text.size() > kMaxTextBytes && !tooMuch) {
            tooMuch = true;
            reader.kill();
        }
    });
    // The reader's "progress DONE TOTAL" lines; anything else on its standard error is dropped.
    QByteArray errors;
    int done = 0;
    int total = 0;
    QProgressBar *bar = nullptr; // once the dialog shows
    // The bar itself, not the dialog's setValue(), which would run the event loop from inside
    // the reader's signal. Busy until the reader says how much there is.
    const auto showProgress = [&] {
        if (!bar)
            return;
        bar->setRange(0, total);
        bar->setValue(std::clamp(done, 0, total));
    };
    QObject::connect(&reader, &QProcess::readyReadStandardError, &loop, [&] {
        errors += reader.readAllStandardError();
        const qsizetype end = errors.lastIndexOf('\n');
        if (end < 0) {
            if (errors.size() > 4096)
                errors.clear();
            return;
        }
        for (const QByteArray &line : errors.first(end).split('\n')) {
            const QList<QByteArray> fields = line.split(' ');
            if (fields.size() == 3 && fields[0] == "progress" && fields[2].toInt() > 0) {
                done = fields[1].toInt();
                total = fields[2].toInt();
            }
        }
        errors.remove(0, end + 1);
        showProgress();
    });
    QObject::connect(&reader, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&reader, &QProcess::errorOccurred, &loop, [&](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            failedToStart = true;
            loop.quit();
        }
    });
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, &loop, [&] {
        timedOut = true;
        reader.kill();
    });

    reader.start();
    watchdog.start(timeLimitSeconds() * 1000);
    // Most documents are read before anyone would notice: until then input waits (it is not
    // lost), so nothing can change the text under the read.
    QTimer quiet;
    quiet.setSingleShot(true);
    QObject::connect(&quiet, &QTimer::timeout, &loop, &QEventLoop::quit);
    quiet.start(kQuietMs);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    quiet.stop();

    if (reader.state() != QProcess::NotRunning && !failedToStart) {
        QProgressDialog progress(parent);
        progress.setObjectName(QStringLiteral("ReadProgress"));
        progress.setWindowTitle(parlivo::kAppTitle);
        progress.setAccessibleName(QObject::tr("Reading the document"));
        progress.setLabelText(QObject::tr("Reading \"%1\"...").arg(QDir::toNativeSeparators(path)));
        bar = new QProgressBar(&progress);
        bar->setAccessibleName(QObject::tr("Part of the document read"));
        showProgress();
        progress.setBar(bar);
        progress.setWindowModality(Qt::WindowModal);
        progress.setAutoClose(false);
        progress.setAutoReset(false);
        progress.setMinimumDuration(0);
        QObject::connect(&progress, &QProgressDialog::canceled, &loop, [&] {
            cancelled = true;
            reader.kill();
        });
        progress.show();
        if (reader.state() != QProcess::NotRunning)
            loop.exec();
        bar = nullptr; // goes with the dialog
    }
    reader.waitForFinished(5000);
    text += reader.readAllStandardOutput();

    if (cancelled)
        return std::nullopt;
    if (failedToStart)
        throw FileError(0, QObject::tr("The document reader could not be started"));
    if (timedOut)
        throw FileError(0, QObject::tr("Reading stopped after %1 seconds").arg(timeLimitSeconds()));
    if (tooMuch)
        throw FileError(0, QObject::tr("Its text is larger than 256 MB, so it was not opened"));
    if (reader.exitStatus() == QProcess::NormalExit) {
        if (reader.exitCode() == 0)
            return text;
        if (reader.exitCode() == kExitUnreadable)
            throw FileError(0, withoutFullStop(QString::fromUtf8(text)));
        if (reader.exitCode() == kExitNoMemory)
            throw FileError(0, QObject::tr("There is not enough memory for it"));
    }
    throw FileError(0, QObject::tr("The document reader stopped unexpectedly; your text was not "
                                   "changed"));
}

} // namespace documents
