#pragma once
// What kind of document a file is, told from its first bytes and then from its name. Pure byte
// comparisons, safe to run on any file in the window's own process; reading the document itself
// is for parlivo-extract.

#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace formats {

enum class Format {
    PlainText, // UTF-8 with or without a byte order mark, UTF-16 with one: read by the window
    Text,      // text in some other encoding, to be told from its bytes
    Subtitles, // SRT or WebVTT
    Html,
    Markdown,
    Fb2,
    Rtf,
    Pdf,
    Epub,
    Docx,
    Odt,
    Doc,
};

// How many leading bytes detect() looks at, at most.
inline constexpr qsizetype kSniffBytes = 4096;

// `head` is the start of the file (kSniffBytes or all of it), `fileName` its name, and
// `validUtf8` whether the whole file is valid UTF-8 (the window knows once it has read it).
Format detect(QByteArrayView head, QStringView fileName, bool validUtf8);

// The name the worker is told ("html", "pdf", ...), and back; Format::Text for an unknown name.
QString formatName(Format format);
Format formatFromName(QStringView name);

} // namespace formats
