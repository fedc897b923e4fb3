#pragma once
// Markdown (CommonMark with tables and strikethrough) to text with md4c: headings, paragraphs,
// list items with their numbers or bullets, table rows one per line, code blocks line by line.
// Raw HTML is not interpreted: it reads as the text it is.

#include "TextBuilder.h"

#include <QByteArrayView>
#include <QString>

namespace extract {

// `utf8` is the document decoded to UTF-8. Throws ExtractError.
QString markdownToText(QByteArrayView utf8, const Limits &limits);

} // namespace extract
