#include "ExportDialog.h"

#include "AppTitle.h"

#include "Engine.h"
#include "ExportError.h"
#include "Exporter.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileDialog>
#include <QMessageBox>
#include <QProgressBar>
#include <QProgressDialog>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <new>
#include <optional>
#include <thread>

namespace audioexport {

namespace {

constexpr int kProgressSteps = 1000;

struct Choice {
    QString path;
    FileFormat format = FileFormat::Wav;
};

std::optional<Choice> choosePath(QWidget *parent) {
    QFileDialog dialog(parent, QObject::tr("Export to Wav"));
    dialog.setObjectName(QStringLiteral("ExportDialog"));
    // Qt's own dialog on every platform: the type list below has to steer the suffix, and a
    // desktop's dialog does not always tell us which type was picked.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    QStringList filters;
    for (const FileFormatInfo &info : fileFormats())
        filters << QString::fromLatin1(info.filter);
    dialog.setNameFilters(filters);
    dialog.selectNameFilter(filters.constFirst());
    dialog.setDefaultSuffix(QString::fromLatin1(fileFormats().front().suffix));
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&](const QString &filter) {
        const qsizetype index = filters.indexOf(filter);
        if (index >= 0)
            dialog.setDefaultSuffix(QString::fromLatin1(fileFormats()[index].suffix));
    });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;

    Choice choice;
    choice.path = dialog.selectedFiles().constFirst();
    // A suffix of ours wins; otherwise the type chosen in the list.
    if (const auto bySuffix = formatForPath(choice.path)) {
        choice.format = *bySuffix;
    } else {
        const qsizetype index =
            std::max<qsizetype>(filters.indexOf(dialog.selectedNameFilter()), 0);
        choice.format = fileFormats()[index].format;
    }
    return choice;
}

QString formatDuration(double seconds) {
    const auto total = qint64(seconds + 0.5);
    if (total < 60)
        return total == 1 ? QObject::tr("1 second") : QObject::tr("%1 seconds").arg(total);
    const qint64 hours = total / 3600;
    const QString minutesSeconds = QStringLiteral("%1:%2")
                                       .arg((total / 60) % 60, hours ? 2 : 1, 10, QLatin1Char('0'))
                                       .arg(total % 60, 2, 10, QLatin1Char('0'));
    return hours ? QStringLiteral("%1:%2").arg(hours).arg(minutesSeconds) : minutesSeconds;
}

QString progressText(const QString &path, const ExportProgress &progress, qint64 elapsedMs) {
    const QString head = QObject::tr("Exporting to \"%1\"").arg(QDir::toNativeSeparators(path));
    if (progress.textDone <= 0 || progress.textTotal <= 0)
        return head;
    const double done = double(progress.textDone) / double(progress.textTotal);
    const double left = double(elapsedMs) / 1000.0 * (1.0 - done) / done;
    return head + QLatin1Char('\n') +
           QObject::tr("%1 % done, about %2 left").arg(int(done * 100)).arg(formatDuration(left));
}

struct Outcome {
    ExportResult result;
    std::optional<ExportError> error;
};

Outcome runInBackground(QWidget *parent, const ExportRequest &request) {
    QProgressDialog progress(parent);
    progress.setObjectName(QStringLiteral("ExportProgress"));
    progress.setWindowTitle(parlivo::kAppTitle);
    progress.setAccessibleName(QObject::tr("Exporting"));
    if (auto *bar = progress.findChild<QProgressBar *>())
        bar->setAccessibleName(QObject::tr("Part of the text exported"));
    progress.setLabelText(progressText(request.path, {}, 0));
    progress.setRange(0, kProgressSteps);
    progress.setWindowModality(Qt::WindowModal);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    progress.setMinimumDuration(0);
    progress.setValue(0);

    std::atomic<bool> cancel{false};
    Outcome outcome; // written by the export thread, read after it has finished
    Exporter exporter(request);
    QElapsedTimer clock;
    clock.start();
    // The export thread posts its end here, to quit whichever loop below is waiting for it.
    QObject ended;
    bool finished = false; // read and written on this thread only
    QEventLoop *waiting = nullptr;
    std::thread thread([&] {
        const auto report = [&](const ExportProgress &p) {
            // Runs on the export thread: hand a copy to the dialog's thread.
            QMetaObject::invokeMethod(
                &progress,
                [&progress, &clock, p, path = request.path] {
                    if (p.textTotal > 0)
                        progress.setValue(int(kProgressSteps * p.textDone / p.textTotal));
                    progress.setLabelText(progressText(path, p, clock.elapsed()));
                },
                Qt::QueuedConnection);
        };
        try {
            outcome.result = exporter.run(cancel, report);
        } catch (const ExportError &error) {
            outcome.error = error;
        } catch (const std::bad_alloc &) {
            outcome.error = ExportError(ExportError::FileWrite,
                                        QObject::tr("There is not enough memory for it"));
        } catch (const std::exception &error) {
            outcome.error =
                ExportError(ExportError::FileWrite, QString::fromLocal8Bit(error.what()));
        }
        QMetaObject::invokeMethod(
            &ended,
            [&] {
                finished = true;
                if (waiting)
                    waiting->quit();
            },
            Qt::QueuedConnection);
    });

    QEventLoop loop;
    const auto stop = [&] {
        cancel = true;
        loop.quit();
    };
    QObject::connect(&progress, &QProgressDialog::canceled, &loop, stop);
    // However the dialog goes away (Escape, the title bar), the export must not go on unseen.
    QObject::connect(&progress, &QDialog::rejected, &loop, stop);
    waiting = &loop;
    loop.exec();
    if (!finished) {
        // Cancelled: the workers stop within a moment. Until then nothing may start a second
        // export, but the window still repaints.
        QEventLoop stopping;
        waiting = &stopping;
        stopping.exec(QEventLoop::ExcludeUserInputEvents);
    }
    waiting = nullptr;
    thread.join();
    return outcome;
}

} // namespace

void exportDocument(QWidget *parent, const QString &text, const speech::Engine &talker) {
    const std::optional<Choice> choice = choosePath(parent);
    if (!choice)
        return;
    ExportRequest request;
    request.text = text;
    request.voice = talker.voice();
    for (const speech::Voice &voice : talker.voices())
        if (voice.id == request.voice)
            request.sampleRate = voice.sampleRate;
    request.wpm = talker.speed();
    request.path = choice->path;
    request.format = choice->format;
    request.workers = std::max(QThread::idealThreadCount(), 1);

    const Outcome outcome = runInBackground(parent, request);
    const QString where = QDir::toNativeSeparators(request.path);
    if (outcome.error) {
        QMessageBox box(
            QMessageBox::Critical, parlivo::kAppTitle,
            QObject::tr("Could not export the text to \"%1\". Nothing was written.").arg(where) +
                QLatin1String("\n\n") + outcome.error->description() + '.',
            QMessageBox::Ok, parent);
        box.exec();
    } else if (outcome.result.completed) {
        QMessageBox box(QMessageBox::NoIcon, parlivo::kAppTitle,
                        QObject::tr("The text was exported to \"%1\" (%2 of audio).")
                            .arg(where, formatDuration(outcome.result.seconds())),
                        QMessageBox::Ok, parent);
        box.exec();
    }
}

} // namespace audioexport
