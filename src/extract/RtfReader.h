#pragma once
// RTF to text, with a small reader of our own (Debian has no RTF library worth using): groups,
// control words and symbols, \par and \line, tables row by row (\cell, \row), \'hh bytes in the
// document's code page (\ansicpg, Windows-1252 by default) and \uN characters with their \ucN
// fallbacks skipped. Font, colour and style tables, pictures, headers, footers, footnotes and
// every other destination are left out.

#include "TextBuilder.h"

#include <QByteArrayView>
#include <QString>

namespace extract {

// Throws ExtractError: damaged (not RTF, or groups nested past Limits::maxDepth).
QString rtfToText(QByteArrayView bytes, const Limits &limits);

} // namespace extract
