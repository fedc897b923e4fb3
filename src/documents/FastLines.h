#pragma once
// The fast path of Open for the common files: decoding and line-end normalising in one pass,
// straight from the file's bytes into the document's reserved space. A 100 MB file must not
// take more than half a second, which rules out decoding first and fixing line ends after.

#include <QByteArrayView>
#include <QChar>

namespace documents {

// How many bytes are CR or LF. In UTF-8, Windows-1252 and UTF-16 alike every line end has at
// least one such byte, so this bounds how much turning line ends into "\r\n" can add.
qsizetype countLineEndBytes(QByteArrayView bytes);

// Decodes UTF-8 (no byte order mark) from `in` to `out`, turning every line end ("\r\n", "\n",
// lone "\r") into "\r\n" and NUL into U+FFFD. `out` needs room for in.size() plus one unit per
// CR or LF byte. Returns the end of the output, or nullptr as soon as `in` turns out not to be
// valid UTF-8 (what was written by then is garbage).
QChar *appendUtf8Lines(QChar *out, QByteArrayView in);

// The same for Windows-1252, where every byte is a character; never fails.
QChar *appendCp1252Lines(QChar *out, QByteArrayView in);

} // namespace documents
