#pragma once
// Documents that are not plain UTF-8 text, read by parlivo-extract: a program of its own, with
// limits, so that a hostile file cannot take the window or the user's text with it. The window
// goes on answering while it reads.

#include "Format.h"

#include <QByteArray>
#include <QString>

#include <optional>

class QWidget;

namespace documents {

// The text of the file at `path`, of kind `format`, in UTF-8 with one paragraph per line. A
// progress dialog with Cancel shows if it takes more than a moment; nothing when cancelled.
// Throws FileError with the reason to show: what the reader said of the file, or that it ran
// too long, gave too much, or stopped unexpectedly.
std::optional<QByteArray> readThroughReader(QWidget *parent, const QString &path,
                                            formats::Format format);

// parlivo-extract next to the running program, or $PARLIVO_EXTRACT.
QString readerProgram();

} // namespace documents
