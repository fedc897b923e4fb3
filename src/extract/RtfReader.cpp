#include "RtfReader.h"

#include "Cp1252.h"
#include "Encoding.h"
#include "MarkedText.h"

#include <QList>
#include <QStringList>

#include <algorithm>
#include <array>
#include <optional>

namespace extract {
namespace {

// Destinations whose text is not the document's.
constexpr std::array<QLatin1StringView, 19> kSkipped = {
    QLatin1StringView("fonttbl"),    QLatin1StringView("colortbl"),
    QLatin1StringView("stylesheet"), QLatin1StringView("info"),
    QLatin1StringView("pict"),       QLatin1StringView("header"),
    QLatin1StringView("headerl"),    QLatin1StringView("headerr"),
    QLatin1StringView("headerf"),    QLatin1StringView("footer"),
    QLatin1StringView("footerl"),    QLatin1StringView("footerr"),
    QLatin1StringView("footerf"),    QLatin1StringView("object"),
    QLatin1StringView("listtable"),  QLatin1StringView("listoverridetable"),
    QLatin1StringView("rsidtbl"),    QLatin1StringView("xmlnstbl"),
    QLatin1StringView("themedata")};

struct Group {
    bool skip = false;
    bool noteStart = false; // this group is a footnote's own: its end ends the note
    int fallback = 1;       // characters after \uN that stand in for it (\ucN)
};

// Bytes of the document's code page, gathered until something else comes, then decoded
// together (a double-byte code page needs both bytes).
class CodePage {
public:
    void set(int page) { m_page = page; }
    void add(char byte) { m_bytes += byte; }
    QString take() {
        if (m_bytes.isEmpty())
            return {};
        QString text;
        if (m_page != 1252 && m_page > 0)
            text = decodeAs(m_bytes, "CP" + QByteArray::number(m_page)).value_or(QString());
        if (text.isEmpty()) {
            for (const char c : std::as_const(m_bytes))
                text += QChar(parlivo::cp1252ToUnicode(static_cast<unsigned char>(c)));
        }
        m_bytes.clear();
        return text;
    }

private:
    int m_page = 1252;
    QByteArray m_bytes;
};

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

QString rtfToText(QByteArrayView bytes, const Limits &limits) {
    qsizetype i = 0;
    while (i < bytes.size() && bytes[i] != '{')
        ++i;
    if (!bytes.sliced(i).startsWith("{\\rtf"))
        throw ExtractError::damaged();
    MarkedText body(limits);
    // A footnote is read where it stands in the file, inside its paragraph, but heard after
    // that paragraph, where a listener can still tell what it is about.
    std::optional<MarkedText> note;
    QStringList pendingNotes;
    const auto out = [&]() -> MarkedText & {
        return note ? *note : body;
    };
    CodePage codePage;
    QList<Group> groups;
    int skipChars = 0; // \uN fallbacks still to skip
    const auto flush = [&] {
        out().add(codePage.take());
    };
    const auto endParagraph = [&] {
        if (note) {
            note->space();
            return;
        }
        body.endParagraph();
        for (const QString &text : std::as_const(pendingNotes)) {
            body.add(text);
            body.endParagraph();
        }
        pendingNotes.clear();
    };
    const auto skipping = [&] {
        return groups.isEmpty() || groups.last().skip;
    };

    while (i < bytes.size()) {
        const char c = bytes[i];
        if (c == '{') {
            flush();
            if (groups.size() >= limits.maxDepth)
                throw ExtractError::damaged();
            groups.append(groups.isEmpty() ? Group{} : groups.last());
            groups.last().noteStart = false;
            ++i;
            // "{\*\dest ...}": a destination this reader does not know, never text.
            if (bytes.sliced(i).startsWith("\\*"))
                groups.last().skip = true;
            continue;
        }
        if (c == '}') {
            flush();
            if (!groups.isEmpty()) {
                if (groups.last().noteStart) {
                    const QString text = note->finish().replace(u'\n', u' ');
                    if (!text.isEmpty())
                        pendingNotes.append(text);
                    note.reset();
                }
                groups.removeLast();
            }
            ++i;
            continue;
        }
        if (c == '\r' || c == '\n') {
            ++i;
            continue;
        }
        if (c != '\\') {
            if (skipChars > 0)
                --skipChars;
            else if (!skipping())
                codePage.add(c);
            ++i;
            continue;
        }
        // A control symbol or word.
        ++i;
        if (i >= bytes.size())
            break;
        const char s = bytes[i];
        if (s == '\'') {
            const int hi = i + 1 < bytes.size() ? hexValue(bytes[i + 1]) : -1;
            const int lo = i + 2 < bytes.size() ? hexValue(bytes[i + 2]) : -1;
            i += 3;
            if (hi < 0 || lo < 0)
                continue;
            if (skipChars > 0)
                --skipChars;
            else if (!skipping())
                codePage.add(char(hi * 16 + lo));
            continue;
        }
        if (!((s >= 'a' && s <= 'z') || (s >= 'A' && s <= 'Z'))) {
            ++i;
            if (skipping())
                continue;
            if (s == '\\' || s == '{' || s == '}')
                codePage.add(s);
            else if (s == '~')
                codePage.add(' ');
            continue;
        }
        qsizetype end = i;
        while (end < bytes.size() && ((bytes[end] >= 'a' && bytes[end] <= 'z') ||
                                      (bytes[end] >= 'A' && bytes[end] <= 'Z')))
            ++end;
        const QLatin1StringView word(bytes.sliced(i, end - i));
        bool hasNumber = false;
        long number = 0;
        bool negative = false;
        if (end < bytes.size() && bytes[end] == '-') {
            negative = true;
            ++end;
        }
        while (end < bytes.size() && bytes[end] >= '0' && bytes[end] <= '9' && number < 1000000) {
            number = number * 10 + (bytes[end] - '0');
            hasNumber = true;
            ++end;
        }
        if (negative)
            number = -number;
        if (end < bytes.size() && bytes[end] == ' ')
            ++end; // the delimiter belongs to the word
        i = end;

        if (!groups.isEmpty() &&
            std::find(kSkipped.begin(), kSkipped.end(), word) != kSkipped.end()) {
            groups.last().skip = true;
            continue;
        }
        if (word == QLatin1String("footnote") && !groups.isEmpty()) {
            // "{\*\footnote" is written too; a note inside skipped text stays skipped.
            const bool inSkipped = groups.size() > 1 && groups[groups.size() - 2].skip;
            groups.last().skip = inSkipped;
            if (!inSkipped && !note) {
                flush();
                note.emplace(limits);
                groups.last().noteStart = true;
            }
            continue;
        }
        if (word == QLatin1String("bin") && hasNumber) {
            i = std::min(bytes.size(), i + std::max(0L, number)); // raw bytes, never text
            continue;
        }
        if (word == QLatin1String("ansicpg") && hasNumber) {
            codePage.set(int(number));
            continue;
        }
        if (word == QLatin1String("uc") && hasNumber && !groups.isEmpty()) {
            groups.last().fallback = int(std::clamp(number, 0L, 8L));
            continue;
        }
        if (skipping())
            continue;
        if (word == QLatin1String("u") && hasNumber) {
            flush();
            const char16_t unit = char16_t(number < 0 ? number + 65536 : number);
            out().add(QStringView(&unit, 1));
            skipChars = groups.last().fallback;
            continue;
        }
        flush();
        if (word == QLatin1String("par") || word == QLatin1String("sect") ||
            word == QLatin1String("page")) {
            endParagraph();
        } else if (word == QLatin1String("line") || word == QLatin1String("tab")) {
            out().space();
        } else if (word == QLatin1String("cell")) {
            out().setMark(QStringLiteral(", "));
        } else if (word == QLatin1String("row")) {
            out().setMark(QString());
            endParagraph();
        } else if (word == QLatin1String("emdash")) {
            out().add(u"\u2014");
        } else if (word == QLatin1String("endash")) {
            out().add(u"\u2013");
        } else if (word == QLatin1String("bullet")) {
            out().add(u"\u2022");
        } else if (word == QLatin1String("lquote") || word == QLatin1String("rquote")) {
            out().add(word == QLatin1String("lquote") ? u"\u2018" : u"\u2019");
        } else if (word == QLatin1String("ldblquote") || word == QLatin1String("rdblquote")) {
            out().add(word == QLatin1String("ldblquote") ? u"\u201C" : u"\u201D");
        }
    }
    flush();
    if (note) { // a note cut off by the end of a damaged file is still heard
        pendingNotes.append(note->finish().replace(u'\n', u' '));
        note.reset();
    }
    endParagraph();
    return body.finish();
}

} // namespace extract
