#include "Format.h"

#include <QFileInfo>

#include <algorithm>
#include <array>
#include <optional>
#include <utility>

namespace formats {
namespace {

constexpr std::array<std::pair<Format, const char *>, 12> kNames = {{
    {Format::PlainText, "plain"},
    {Format::Text, "text"},
    {Format::Subtitles, "subtitles"},
    {Format::Html, "html"},
    {Format::Markdown, "markdown"},
    {Format::Fb2, "fb2"},
    {Format::Rtf, "rtf"},
    {Format::Pdf, "pdf"},
    {Format::Epub, "epub"},
    {Format::Docx, "docx"},
    {Format::Odt, "odt"},
    {Format::Doc, "doc"},
}};

bool startsWithBom(QByteArrayView head) {
    return head.startsWith("\xEF\xBB\xBF") || head.startsWith("\xFF\xFE") ||
           head.startsWith("\xFE\xFF");
}

QByteArrayView skipBomAndSpace(QByteArrayView head) {
    if (head.startsWith("\xEF\xBB\xBF"))
        head = head.sliced(3);
    while (!head.isEmpty() && (head.front() == ' ' || head.front() == '\t' ||
                               head.front() == '\r' || head.front() == '\n'))
        head = head.sliced(1);
    return head;
}

bool startsWithNoCase(QByteArrayView text, QByteArrayView prefix) {
    return text.size() >= prefix.size() &&
           QLatin1StringView(text.first(prefix.size()))
                   .compare(QLatin1StringView(prefix), Qt::CaseInsensitive) == 0;
}

// A zip archive: the kind is in its first entry (EPUB and ODT store "mimetype" first, uncompressed,
// with the media type as its content) or in the names of the entries that follow (DOCX).
std::optional<Format> zipKind(QByteArrayView head) {
    if (!head.startsWith("PK\x03\x04"))
        return std::nullopt;
    if (head.size() >= 30) {
        const auto le16 = [&](qsizetype at) {
            return unsigned(static_cast<unsigned char>(head[at])) |
                   unsigned(static_cast<unsigned char>(head[at + 1])) << 8;
        };
        const qsizetype nameLength = le16(26);
        const qsizetype extraLength = le16(28);
        const QByteArrayView name = head.sliced(30).first(std::min(nameLength, head.size() - 30));
        if (name == "mimetype" && head.size() > 30 + nameLength + extraLength) {
            const QByteArrayView content = head.sliced(30 + nameLength + extraLength);
            if (content.startsWith("application/epub+zip"))
                return Format::Epub;
            if (content.startsWith("application/vnd.oasis.opendocument.text"))
                return Format::Odt;
        }
    }
    if (head.indexOf("word/") >= 0)
        return Format::Docx;
    return std::nullopt;
}

} // namespace

Format detect(QByteArrayView head, QStringView fileName, bool validUtf8) {
    head = head.first(std::min(head.size(), kSniffBytes));
    if (head.startsWith("%PDF-"))
        return Format::Pdf;
    if (head.startsWith("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"))
        return Format::Doc;
    if (const auto zip = zipKind(head))
        return *zip;
    const QByteArrayView start = skipBomAndSpace(head);
    if (start.startsWith("{\\rtf"))
        return Format::Rtf;
    if (head.indexOf("<FictionBook") >= 0)
        return Format::Fb2;
    if (startsWithNoCase(start, "<!doctype html") || startsWithNoCase(start, "<html") ||
        (startsWithNoCase(start, "<?xml") && head.indexOf("http://www.w3.org/1999/xhtml") >= 0))
        return Format::Html;
    if (start.startsWith("WEBVTT"))
        return Format::Subtitles;

    const QString suffix = QFileInfo(fileName.toString()).suffix().toLower();
    if (suffix == QLatin1String("html") || suffix == QLatin1String("htm") ||
        suffix == QLatin1String("xhtml"))
        return Format::Html;
    if (suffix == QLatin1String("md") || suffix == QLatin1String("markdown"))
        return Format::Markdown;
    if (suffix == QLatin1String("srt") || suffix == QLatin1String("vtt"))
        return Format::Subtitles;
    if (suffix == QLatin1String("fb2"))
        return Format::Fb2;
    return validUtf8 || startsWithBom(head) ? Format::PlainText : Format::Text;
}

QString formatName(Format format) {
    for (const auto &[f, name] : kNames)
        if (f == format)
            return QLatin1String(name);
    return QStringLiteral("text");
}

Format formatFromName(QStringView name) {
    for (const auto &[f, n] : kNames)
        if (name == QLatin1String(n))
            return f;
    return Format::Text;
}

} // namespace formats
