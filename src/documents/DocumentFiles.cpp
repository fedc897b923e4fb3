#include "DocumentFiles.h"

#include "AppTitle.h"

#include "DocumentIo.h"
#include "DocumentReader.h"
#include "DocumentText.h"
#include "FileAccess.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCompleter>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>

#include <algorithm>
#include <new>

namespace documents {

namespace {

void showFailure(QWidget *parent, const QString &what, const QString &path, const QString &why) {
    QMessageBox box(QMessageBox::Critical, parlivo::kAppTitle,
                    what.arg(QDir::toNativeSeparators(path)) + QLatin1String("\n\n") + why + '.',
                    QMessageBox::Ok, parent);
    box.exec();
}

// A popup of the dialog's: its completions of a typed name have no parent widget.
bool isPopupOf(const QWidget *popup, const QFileDialog &dialog) {
    const QList<QCompleter *> completers = dialog.findChildren<QCompleter *>();
    return std::any_of(completers.cbegin(), completers.cend(),
                       [popup](QCompleter *completer) { return completer->popup() == popup; });
}

// The file the user accepted in `dialog`, or nothing if they cancelled.
QString chooseFile(QFileDialog &dialog) {
    const int result = dialog.exec();
    // Return pressed on a typed name while the name's completions are shown accepts the dialog
    // but leaves the list of completions open, as the application's popup: the window would not
    // get the next key, the popup would take it to close. The dialog is kept for the next Open
    // or Save, so nothing else closes it.
    while (QWidget *popup = QApplication::activePopupWidget()) {
        if (!isPopupOf(popup, dialog))
            break;
        popup->close();
    }
    if (result != QDialog::Accepted)
        return {};
    const QStringList files = dialog.selectedFiles();
    return files.isEmpty() ? QString() : files.constFirst();
}

} // namespace

void openDocument(QWidget *parent, QFileDialog &dialog, DocumentText &document) {
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    const QString path = chooseFile(dialog);
    if (path.isEmpty())
        return;
    const QString failure = QObject::tr("Could not open the document \"%1\".");
    try {
        // The whole file is read before the document is touched; a failure leaves it as it was.
        QByteArray bytes = readWholeFile(path);
        QString added;
        // Plain UTF-8 (the common case) is split into lines right here, at hundreds of MB/s;
        // every other file is read by the document reader, in a process of its own.
        formats::Format format = formats::detect(bytes, path, true);
        if (format != formats::Format::PlainText || !appendUnicodeFileLines(added, bytes)) {
            if (format == formats::Format::PlainText)
                format = formats::Format::Text;
            bytes = QByteArray();
            const std::optional<QByteArray> text = readThroughReader(parent, path, format);
            if (!text)
                return; // cancelled
            appendFileLines(added, *text);
        }
        // Let the file's bytes go before the widget makes its own copy of the text.
        bytes = QByteArray();
        // Only the new lines go in: the text already there stays exactly as it is, and a large
        // document is not split and laid out again.
        if (!added.isEmpty())
            document.append(added);
    } catch (const FileError &error) {
        showFailure(parent, failure, path, error.reason());
    } catch (const std::bad_alloc &) {
        showFailure(parent, failure, path, QObject::tr("There is not enough memory for it"));
    }
}

void saveDocument(QWidget *parent, QFileDialog &dialog, const DocumentText &document) {
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // Saving adds to the end of an existing file; asking whether to replace it would be wrong.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    const QString path = chooseFile(dialog);
    if (path.isEmpty())
        return;
    const QString failure = QObject::tr("Could not save the document to \"%1\".");
    try {
        appendToFile(path, savedBytes(document.text()));
    } catch (const FileError &error) {
        showFailure(parent, failure, path, error.reason());
        return;
    } catch (const std::bad_alloc &) {
        showFailure(parent, failure, path, QObject::tr("There is not enough memory for it"));
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, parlivo::kAppTitle,
                    QObject::tr("Your file(s) has been successfully saved. You can now run the "
                                "client with your new settings."),
                    QMessageBox::Ok, parent);
    box.exec();
}

} // namespace documents
