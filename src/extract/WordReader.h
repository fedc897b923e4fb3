#pragma once
// Word 97-2003 documents (.doc). The binary format is read by catdoc, Debian's kept reader of
// it, run as a child of this worker so that it shares the worker's limits and dies with it;
// what it prints is turned into one paragraph per line here.

#include "TextBuilder.h"

#include <QByteArrayView>
#include <QString>

namespace extract {

// The text of the Word document at `path`. Throws ExtractError with the user's message when
// catdoc is missing, refuses the file, or prints more than the limit.
QString wordToText(const QString &path, const Limits &limits);

// catdoc's output (UTF-8, one paragraph per line, table cells separated by tabs, page breaks as
// form feeds) as paragraphs: cells joined by commas, empty lines dropped.
QString catdocOutputToText(QByteArrayView output, const Limits &limits);

} // namespace extract
