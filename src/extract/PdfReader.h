#pragma once
// PDF to text with mupdf (AGPL-3.0-or-later: it runs only inside parlivo-extract, a program of
// its own, and the AGPL's terms are compatible with our GPL-3.0-or-later). Its structured text
// gives blocks in reading order; each block is a paragraph, its lines joined, words hyphenated
// at a line end joined again, ligatures spelled out. Lines that repeat at the top or bottom of
// most pages (running headers and footers) and lone page numbers are left out.

#include "TextBuilder.h"

#include <QByteArrayView>
#include <QString>

namespace extract {

// Throws ExtractError: damaged, password-protected, or "This PDF contains no text (it may be
// scanned pages)."
QString pdfToText(QByteArrayView bytes, const Limits &limits);

} // namespace extract
