#pragma once
// Text files that are neither UTF-8 nor marked UTF-16: which encoding their bytes are in, told
// from the bytes themselves.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

namespace extract {

// The encoding `bytes` are in, as iconv names it: "UTF-8" and "UTF-16LE"/"UTF-16BE" (with or
// without a byte order mark, the latter told by their pattern of zero bytes), else what uchardet
// finds (WINDOWS-1251, KOI8-R, SHIFT_JIS, GB18030, ISO-8859-2, ...), else "WINDOWS-1252", which
// every byte sequence is.
QByteArray detectEncoding(QByteArrayView bytes);

// The bytes decoded from the encoding detectEncoding() finds, without a byte order mark. UTF-8
// with a damaged sequence gets U+FFFD there; in any other encoding, where a sequence does not
// decode after all, the whole file is read as Windows-1252 instead, so no byte is lost.
QString decodeText(QByteArrayView bytes);

// The bytes decoded from `encoding` (an iconv name) by iconv; nothing if the encoding is unknown
// or a sequence in `bytes` does not decode.
std::optional<QString> decodeAs(QByteArrayView bytes, const QByteArray &encoding);

} // namespace extract
