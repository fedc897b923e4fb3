#pragma once
// The documents that are zip archives of XML: word-processor files (DOCX, ODT) and EPUB books.
// Each paragraph on a line of its own, headings too; list items with their number or a bullet;
// table rows one per line, cells joined by commas. EPUB chapters in reading order (the spine),
// each read as HTML. Footnotes, comments, deleted text and pictures are not read.

#include "TextBuilder.h"

#include <QByteArrayView>
#include <QString>

namespace extract {

// Each takes the file as it is. Throws ExtractError: damaged, password-protected, or unpacking
// past ZipArchive's limits.
QString docxToText(QByteArrayView bytes, const Limits &limits);
QString odtToText(QByteArrayView bytes, const Limits &limits);
QString epubToText(QByteArrayView bytes, const Limits &limits);

} // namespace extract
