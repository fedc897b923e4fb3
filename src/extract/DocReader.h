#pragma once
// Word 97-2003 documents (.doc) read from the format's own structures: the compound file's
// streams, the piece table for the text, the footnote and endnote tables for where each note
// is cited, and the list tables for the numbers and bullets of list items. catdoc, which reads
// the text well, puts every note at the end and drops list numbers; this reader keeps both where
// a listener needs them, and leaves to catdoc the files it does not know.

#include "TextBuilder.h"

#include <QByteArrayView>
#include <QString>

#include <optional>

namespace extract {

// The text of a Word 97-2003 document in the form the other readers give: each footnote or
// endnote a paragraph of its own right after the paragraph that cites it, a list item after its
// number or bullet ("1. ", "• "), a table row as its cells joined by commas. Nothing if the
// file is not one this reader handles (Word 95 and older, a structure it cannot follow), so that
// catdoc can try. Throws ExtractError for a password-protected file or text past the limit.
std::optional<QString> docToText(QByteArrayView bytes, const Limits &limits);

} // namespace extract
