#pragma once
// FictionBook 2 e-books to text with QXmlStreamReader: the text of the bodies (the book, then
// its notes), every paragraph, verse line, subtitle and title line on a line of its own. The
// description (author, annotation, cover) and the embedded pictures are not read.
//
// A file that is not well-formed XML is refused as damaged, a truncated one included: reading a
// book up to some point and stopping without a word would look like the whole book. So is one
// whose document type declares entities (nothing in a book needs them, and they are how
// exponential "entity bombs" are built) and one nested deeper than Limits::maxDepth.

#include "TextBuilder.h"

#include <QByteArrayView>
#include <QString>

namespace extract {

// `bytes` is the file as it is: the encoding its XML declaration names (windows-1251 is
// common) is decoded here. Throws ExtractError.
QString fb2ToText(QByteArrayView bytes, const Limits &limits);

} // namespace extract
