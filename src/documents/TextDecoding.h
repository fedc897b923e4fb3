#pragma once
// Turning the bytes of a text file into text. Files come from anywhere: UTF-8 (with or without
// a byte order mark), UTF-16 with a byte order mark, or old single-byte files in Windows-1252.

#include <QByteArrayView>
#include <QString>

namespace documents {

inline constexpr QByteArrayView kUtf8Bom("\xEF\xBB\xBF", 3);

bool startsWithUtf16Bom(QByteArrayView bytes);

// At most how many UTF-16 units appendDecoded adds for `bytes`.
qsizetype decodedLengthBound(QByteArrayView bytes);

// Decodes a whole file and appends the text to `out`, without its byte order mark. A byte order
// mark decides the encoding; without one the file is UTF-8 if every byte sequence in it is
// valid UTF-8, and Windows-1252 if not. NUL bytes stay U+0000 here; the line splitter replaces
// them. Open's fast path (FastLines) follows the same rules for files without UTF-16 marks.
void appendDecoded(QString &out, QByteArrayView bytes);

// The decoded text on its own.
QString decodeText(QByteArrayView bytes);

} // namespace documents
