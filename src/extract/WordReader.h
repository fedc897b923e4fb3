#pragma once
// Word 97-2003 documents (.doc). Our own reader of the format's structures (DocReader.h) reads
// them first, keeping each footnote after the paragraph that cites it and list numbers; files
// it does not handle, such as Word 95 and older, go to catdoc, Debian's kept reader of the
// format, run as a child of this worker so that it shares the worker's limits and dies with it;
// what catdoc prints is turned into one paragraph per line here.

#include "TextBuilder.h"

#include <QByteArrayView>
#include <QString>

namespace extract {

// The text of the Word document at `path`. Throws ExtractError with the user's message when the
// file is password-protected, gives more text than the limit, or is left to catdoc and catdoc
// is missing or refuses it.
QString wordToText(const QString &path, const Limits &limits);

// catdoc's output (UTF-8, one paragraph per line, table cells separated by tabs, page breaks as
// form feeds) as paragraphs: cells joined by commas, empty lines dropped.
QString catdocOutputToText(QByteArrayView output, const Limits &limits);

} // namespace extract
