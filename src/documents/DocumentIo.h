#pragma once
// The text side of opening and saving: how a file's lines join the document and what a save
// writes. No widgets and no files here.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace documents {

// Appends every line of a file to `document`, each with "\r\n" in front of it and nothing after
// the last. Lines end at "\r\n", "\n" or a lone "\r"; a last line without a line end counts, an
// empty file adds nothing. NUL characters become U+FFFD. The bytes are decoded as TextDecoding
// says.
void appendFileLines(QString &document, QByteArrayView fileBytes);

// The same for a file that is valid UTF-8 or has a UTF-8 or UTF-16 byte order mark; anything
// else adds nothing and returns false, for the document reader to tell its encoding.
bool appendUnicodeFileLines(QString &document, QByteArrayView fileBytes);

// From `from` on: every line end becomes "\r\n" and every NUL U+FFFD, in place.
void normaliseLineEnds(QString &text, qsizetype from);

// What a save appends to the file: the document and one "\r\n", in UTF-8.
QByteArray savedBytes(const QString &document);

} // namespace documents
