#pragma once
// Web pages (HTML, XHTML read as HTML) to text with gumbo: the body's text, one paragraph per
// block, list items numbered or bulleted as they show, table rows one per line.

#include "TextBuilder.h"

#include <QByteArrayView>
#include <QString>

namespace extract {

// The page's bytes decoded: by their byte order mark, else by the encoding the page declares in
// its first kilobyte (<meta charset> or http-equiv Content-Type), else as decodeText() tells.
QString decodeHtml(QByteArrayView bytes);

// `utf8` is the page already decoded to UTF-8 (bad sequences become U+FFFD). Throws ExtractError.
QString htmlToText(QByteArrayView utf8, const Limits &limits);

} // namespace extract
