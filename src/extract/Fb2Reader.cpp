#include "Fb2Reader.h"
#include "MarkedText.h"
#include "SafeXml.h"

#include <QRegularExpression>
#include <QXmlStreamReader>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iconv.h>
#include <memory>

namespace extract {

namespace {

// iconv into UTF-8; a byte the encoding has no character for becomes U+FFFD.
QByteArray toUtf8(QByteArrayView bytes, const QByteArray &encoding) {
    const iconv_t cd = iconv_open("UTF-8", encoding.constData());
    if (cd == reinterpret_cast<iconv_t>(std::intptr_t(-1)))
        throw ExtractError::damaged(); // an encoding nobody knows: the text cannot be read
    const std::unique_ptr<void, int (*)(iconv_t)> closer(cd, iconv_close);
    constexpr std::size_t failed = static_cast<std::size_t>(-1);
    QByteArray out(bytes.size() * 2 + 64, Qt::Uninitialized);
    char *in = const_cast<char *>(bytes.data());
    std::size_t inLeft = std::size_t(bytes.size());
    qsizetype used = 0;
    for (;;) {
        char *to = out.data() + used;
        std::size_t outLeft = std::size_t(out.size() - used);
        // With no input left, the call puts out what a stateful encoding still holds.
        const bool flushing = inLeft == 0;
        const std::size_t result = flushing ? iconv(cd, nullptr, nullptr, &to, &outLeft)
                                            : iconv(cd, &in, &inLeft, &to, &outLeft);
        const int error = errno;
        used = to - out.data();
        if (result != failed) {
            if (flushing)
                break;
            continue;
        }
        if (error == E2BIG) {
            out.resize(out.size() * 2);
            continue;
        }
        if (flushing)
            break;
        // EILSEQ, or EINVAL for a sequence cut off by the end of the file.
        if (out.size() - used < 3)
            out.resize(out.size() * 2);
        std::memcpy(out.data() + used, "\xEF\xBF\xBD", 3);
        used += 3;
        ++in;
        --inLeft;
    }
    out.truncate(used);
    return out;
}

// The XML declaration's encoding; QXmlStreamReader itself decodes only UTF-8 and UTF-16.
const QRegularExpression &encodingPattern() {
    static const QRegularExpression pattern(
        QStringLiteral(R"(^<\?xml[^>]*?\sencoding\s*=\s*["']([A-Za-z0-9._:-]*)["'])"));
    return pattern;
}

QByteArray parsable(QByteArrayView bytes) {
    // A byte order mark, or no declaration: UTF-8 or UTF-16, as the reader works out itself.
    if (!bytes.startsWith("<?xml"))
        return bytes.toByteArray();
    const QString head = QString::fromLatin1(bytes.first(qMin<qsizetype>(bytes.size(), 512)));
    const QRegularExpressionMatch match = encodingPattern().match(head);
    if (!match.hasMatch())
        return bytes.toByteArray();
    const QString name = match.captured(1).toLower();
    if (name == u"utf-8" || name == u"utf8")
        return bytes.toByteArray();
    // The declaration itself reads in any encoding that keeps ASCII, so it stays where it was.
    QByteArray utf8 = toUtf8(bytes, match.captured(1).toLatin1());
    const QRegularExpressionMatch again =
        encodingPattern().match(QString::fromLatin1(utf8.first(qMin<qsizetype>(utf8.size(), 512))));
    if (!again.hasMatch())
        throw ExtractError::damaged();
    utf8.replace(again.capturedStart(1), again.capturedLength(1), "UTF-8");
    return utf8;
}

// Entity references the book never declares (it cannot: declarations are refused) are left out,
// so that a book made from a template ("About &Version;") reads instead of failing as a whole.
// The five XML defines and character references stay.
QByteArray withoutUnknownEntities(QByteArray xml) {
    if (xml.startsWith("\xFF\xFE") || xml.startsWith("\xFE\xFF"))
        return xml; // UTF-16: the reader's own business
    static const QByteArrayView known[] = {"amp", "lt", "gt", "quot", "apos"};
    qsizetype at = 0;
    while ((at = xml.indexOf('&', at)) >= 0) {
        qsizetype end = at + 1;
        while (end < xml.size() && (std::isalnum(static_cast<unsigned char>(xml[end])) ||
                                    xml[end] == '_' || xml[end] == '-' || xml[end] == '.'))
            ++end;
        const QByteArrayView name = QByteArrayView(xml).sliced(at + 1, end - at - 1);
        const bool defined = std::find(std::begin(known), std::end(known), name) != std::end(known);
        if (end < xml.size() && xml[end] == ';' && !name.isEmpty() && !defined)
            xml.remove(at, end + 1 - at);
        else
            ++at;
    }
    return xml;
}

enum class Role { Inline, Paragraph, Row, Cell };

Role roleOf(QStringView name) {
    static const QStringView paragraphs[] = {
        u"p",          u"v",    u"subtitle",   u"text-author", u"title",
        u"epigraph",   u"poem", u"stanza",     u"section",     u"cite",
        u"annotation", u"date", u"empty-line", u"table",       u"body"};
    for (const QStringView p : paragraphs) {
        if (name == p)
            return Role::Paragraph;
    }
    if (name == u"tr")
        return Role::Row;
    if (name == u"td" || name == u"th")
        return Role::Cell;
    return Role::Inline;
}

} // namespace

QString fb2ToText(QByteArrayView bytes, const Limits &limits) {
    const QByteArray xml = withoutUnknownEntities(parsable(bytes));
    SafeXml reader(xml, limits);
    MarkedText out(limits);
    int bodyDepth = 0; // the depth of the body being read, 0 outside the bodies
    bool rowHasText = false;
    while (reader.next()) {
        switch (reader->tokenType()) {
        case QXmlStreamReader::StartElement: {
            if (bodyDepth == 0) {
                if (reader->name() == u"body")
                    bodyDepth = reader.depth();
                break;
            }
            const Role role = roleOf(reader->name());
            if (role == Role::Paragraph || role == Role::Row) {
                out.endParagraph();
                out.setMark({});
                rowHasText = false;
            } else if (role == Role::Cell) {
                if (rowHasText)
                    out.setMark(QStringLiteral(", "));
                else
                    out.space();
            }
            break;
        }
        case QXmlStreamReader::EndElement: {
            if (bodyDepth > 0) {
                const Role role = roleOf(reader->name());
                if (role == Role::Paragraph || role == Role::Row) {
                    out.endParagraph();
                    out.setMark({}); // a row ending in empty cells: no separator left over
                    rowHasText = false;
                }
                // The depth is already that of the body's parent when the body ends.
                if (reader.depth() < bodyDepth)
                    bodyDepth = 0;
            }
            break;
        }
        case QXmlStreamReader::Characters:
            if (bodyDepth > 0)
                rowHasText = out.add(reader->text()) || rowHasText;
            break;
        default:
            break;
        }
    }
    return out.finish();
}

} // namespace extract
