#include "PackageReaders.h"
#include "Progress.h"
#include "SafeXml.h"

#include "HtmlReader.h"
#include "MarkedText.h"
#include "ZipArchive.h"

#include <QDir>
#include <QHash>
#include <QList>
#include <QUrl>
#include <QXmlStreamReader>

#include <map>
#include <utility>

namespace extract {
namespace {

const QString kBullet = QStringLiteral("\u2022 ");
const QString kCellSeparator = QStringLiteral(", ");

// Tables: paragraphs inside a cell run on, cells are joined by commas, a row ends a line.
// An empty cell reads nothing, and no separator is left over for the text after the row.
struct Tables {
    int depth = 0;
    int cell = 0; // cells begun in the row being read
    void startRow(MarkedText &out) {
        out.endParagraph();
        out.setMark(QString());
        cell = 0;
    }
    void startCell(MarkedText &out) {
        if (depth > 0 && cell++ > 0 && out.mark().isEmpty())
            out.setMark(kCellSeparator);
    }
    void endRow(MarkedText &out) {
        out.endParagraph();
        out.setMark(QString());
    }
};

// DOCX numbering: which lists count (decimal and friends) and which show bullets.
struct DocxNumbering {
    QHash<QString, QString> abstractOfNum;              // numId -> abstractNumId
    std::map<std::pair<QString, int>, bool> countedLvl; // (abstractNumId, level) -> numbered
    std::map<std::pair<QString, int>, int> counters;    // (numId, level) -> last number

    void load(const QByteArray &xml, const Limits &limits) {
        SafeXml x(xml, limits);
        QString abstract;
        QString num;
        int level = -1;
        while (x.next()) {
            if (!x->isStartElement())
                continue;
            const auto name = x->name();
            const auto val = x->attributes().value(QStringLiteral("w:val"));
            if (name == u"abstractNum")
                abstract = x->attributes().value(QStringLiteral("w:abstractNumId")).toString();
            else if (name == u"lvl")
                level = x->attributes().value(QStringLiteral("w:ilvl")).toInt();
            else if (name == u"numFmt" && level >= 0 && !abstract.isEmpty())
                countedLvl[{abstract, level}] = val != u"bullet" && val != u"none";
            else if (name == u"num")
                num = x->attributes().value(QStringLiteral("w:numId")).toString();
            else if (name == u"abstractNumId" && !num.isEmpty())
                abstractOfNum.insert(num, val.toString());
        }
    }

    QString mark(const QString &numId, int level) {
        const auto found = countedLvl.find({abstractOfNum.value(numId), level});
        if (found == countedLvl.end() || !found->second)
            return kBullet;
        // A new item at one level starts every deeper level's count again.
        for (auto it = counters.begin(); it != counters.end();)
            it = it->first.first == numId && it->first.second > level ? counters.erase(it)
                                                                      : std::next(it);
        return QString::number(++counters[{numId, level}]) + QStringLiteral(". ");
    }
};

// Footnotes and endnotes are heard after the paragraph that cites them, where a listener can
// still tell what they are about, rather than in the middle of its sentence or at the very end.
struct Notes {
    QStringList pending;
    void flush(MarkedText &out) {
        for (const QString &note : std::as_const(pending)) {
            out.endParagraph();
            out.setMark(QString());
            out.add(note);
        }
        if (!pending.isEmpty())
            out.endParagraph();
        pending.clear();
    }
};

// DOCX's notes, by id, from word/footnotes.xml or word/endnotes.xml: each note's paragraphs run
// on as one. The separators the format keeps there have no text and are left out.
QHash<QString, QString> docxNotes(ZipArchive &zip, const QString &part, const Limits &limits) {
    QHash<QString, QString> notes;
    if (!zip.contains(part))
        return notes;
    SafeXml x(zip.read(part), limits);
    QString id;
    QString text;
    bool inText = false;
    while (x.next()) {
        const auto name = x->name();
        if (x->isStartElement()) {
            if (name == u"footnote" || name == u"endnote") {
                id = x->attributes().value(QStringLiteral("w:id")).toString();
                text.clear();
            } else if (name == u"t") {
                inText = true;
            } else if (name == u"p" || name == u"tab" || name == u"br") {
                text += u' ';
            }
        } else if (x->isEndElement()) {
            if (name == u"t") {
                inText = false;
            } else if ((name == u"footnote" || name == u"endnote") && !text.trimmed().isEmpty()) {
                notes.insert(name.toString() + u':' + id, text.trimmed());
            }
        } else if (x->isCharacters() && inText) {
            if (text.size() + x->text().size() > limits.maxChars)
                throw ExtractError::tooLarge();
            text += x->text();
        }
    }
    return notes;
}

// ODT list styles: for each style name and level, whether its items are counted. Styles come
// from styles.xml and from content.xml's automatic styles, which precede the body.
struct OdtListStyles {
    std::map<std::pair<QString, int>, bool> counted;
    QString current; // the list style being read

    void see(SafeXml &x) {
        if (!x->isStartElement())
            return;
        const auto name = x->name();
        const QXmlStreamAttributes a = x->attributes();
        if (name == u"list-style") {
            current = a.value(QStringLiteral("style:name")).toString();
        } else if (!current.isEmpty() &&
                   (name == u"list-level-style-number" || name == u"list-level-style-bullet")) {
            const int level = a.value(QStringLiteral("text:level")).toInt();
            // A number style with no format shows nothing to count.
            counted[{current, level}] = name == u"list-level-style-number" &&
                                        !a.value(QStringLiteral("style:num-format")).isEmpty();
        }
    }
    std::optional<bool> isCounted(const QString &style, int level) const {
        const auto found = counted.find({style, level});
        return found == counted.end() ? std::nullopt : std::optional(found->second);
    }
};

// A file inside the package, named relative to the part that names it ("../Text/ch1.xhtml").
QString resolve(const QString &base, const QString &href) {
    const QString path = QUrl(href).path(QUrl::FullyDecoded);
    const QString dir = base.contains(u'/') ? base.left(base.lastIndexOf(u'/') + 1) : QString();
    return QDir::cleanPath(dir + path);
}

} // namespace

QString docxToText(QByteArrayView bytes, const Limits &limits) {
    ZipArchive zip(bytes);
    DocxNumbering numbering;
    if (zip.contains(QStringLiteral("word/numbering.xml")))
        numbering.load(zip.read(QStringLiteral("word/numbering.xml")), limits);
    QHash<QString, QString> noteTexts =
        docxNotes(zip, QStringLiteral("word/footnotes.xml"), limits);
    noteTexts.insert(docxNotes(zip, QStringLiteral("word/endnotes.xml"), limits));
    SafeXml x(zip.read(QStringLiteral("word/document.xml")), limits);
    MarkedText out(limits);
    Tables tables;
    Notes notes;
    bool inText = false;
    QString numId;
    int level = 0;
    while (x.next()) {
        const auto name = x->name();
        if (x->isStartElement()) {
            const auto val = x->attributes().value(QStringLiteral("w:val"));
            if (name == u"t") {
                inText = true;
            } else if (name == u"tab" || name == u"br" || name == u"cr") {
                out.space();
            } else if (name == u"ilvl") {
                level = val.toInt();
            } else if (name == u"numId") {
                numId = val.toString();
            } else if (name == u"tbl") {
                out.endParagraph();
                ++tables.depth;
            } else if (name == u"tr") {
                tables.startRow(out);
            } else if (name == u"tc") {
                tables.startCell(out);
            } else if (name == u"p") {
                numId.clear();
                level = 0;
            } else if (name == u"footnoteReference" || name == u"endnoteReference") {
                const QString kind = name == u"footnoteReference" ? QStringLiteral("footnote")
                                                                  : QStringLiteral("endnote");
                const QString text = noteTexts.value(
                    kind + u':' + x->attributes().value(QStringLiteral("w:id")).toString());
                if (!text.isEmpty())
                    notes.pending.append(text);
            }
        } else if (x->isEndElement()) {
            if (name == u"t") {
                inText = false;
            } else if (name == u"pPr" && !numId.isEmpty() && numId != u"0") {
                out.setMark(numbering.mark(numId, level));
            } else if (name == u"p") {
                if (tables.depth > 0) {
                    out.space();
                } else {
                    out.endParagraph();
                    notes.flush(out);
                }
            } else if (name == u"tr") {
                tables.endRow(out);
                notes.flush(out);
            } else if (name == u"tbl") {
                --tables.depth;
                out.endParagraph();
            }
        } else if (x->isCharacters() && inText) {
            out.add(x->text());
        }
    }
    return out.finish();
}

QString odtToText(QByteArrayView bytes, const Limits &limits) {
    ZipArchive zip(bytes);
    OdtListStyles listStyles;
    if (zip.contains(QStringLiteral("styles.xml"))) {
        SafeXml styles(zip.read(QStringLiteral("styles.xml")), limits);
        while (styles.next())
            listStyles.see(styles);
    }
    SafeXml x(zip.read(QStringLiteral("content.xml")), limits);
    MarkedText out(limits);
    Tables tables;
    int inBody = 0;   // inside office:text
    int skipping = 0; // inside an annotation, tracked changes or a note's citation: not read
    int inNote = 0;   // inside a note's body, whose text waits for the end of its paragraph
    Notes notes;
    QString note;
    QList<int> counts;     // the numbers of the lists being read; -1 for bulleted ones
    QStringList listStyle; // the style of each of those lists, inherited by nested ones
    while (x.next()) {
        if (inBody == 0)
            listStyles.see(x);
        const auto name = x->name();
        if (x->isStartElement()) {
            if (name == u"text" && x->prefix() == u"office")
                ++inBody;
            if (skipping > 0 || name == u"note-citation" || name == u"annotation" ||
                name == u"tracked-changes") {
                ++skipping;
                continue;
            }
            if (name == u"note") {
                if (inNote++ == 0)
                    note.clear();
                continue;
            }
            if (inNote > 0) {
                if (name == u"p" || name == u"h" || name == u"s" || name == u"tab" ||
                    name == u"line-break")
                    note += u' ';
                continue;
            }
            if (name == u"s" || name == u"tab" || name == u"line-break") {
                out.space();
            } else if (name == u"list") {
                QString style = x->attributes().value(QStringLiteral("text:style-name")).toString();
                if (style.isEmpty() && !listStyle.isEmpty())
                    style = listStyle.last();
                listStyle.append(style);
                // Without a known style the kind of a list is unknown: numbered if it says
                // where it continues or starts, else bulleted.
                const bool numbered =
                    listStyles.isCounted(style, int(counts.size()) + 1)
                        .value_or(x->attributes().hasAttribute(
                                      QStringLiteral("text:continue-numbering")) ||
                                  x->attributes().hasAttribute(QStringLiteral("text:start-value")));
                counts.append(numbered ? 0 : -1);
            } else if (name == u"list-item" && !counts.isEmpty()) {
                int &count = counts.last();
                out.endParagraph();
                out.setMark(count < 0 ? kBullet : QString::number(++count) + QStringLiteral(". "));
            } else if (name == u"table") {
                out.endParagraph();
                ++tables.depth;
            } else if (name == u"table-row") {
                tables.startRow(out);
            } else if (name == u"table-cell") {
                tables.startCell(out);
            }
        } else if (x->isEndElement()) {
            if (skipping > 0) {
                --skipping;
                continue;
            }
            if (name == u"note") {
                if (--inNote == 0 && !note.trimmed().isEmpty())
                    notes.pending.append(note.trimmed());
                continue;
            }
            if (inNote > 0)
                continue;
            if (name == u"text" && x->prefix() == u"office") {
                --inBody;
            } else if (name == u"p" || name == u"h") {
                if (tables.depth > 0) {
                    out.space();
                } else {
                    out.endParagraph();
                    notes.flush(out);
                }
            } else if (name == u"list" && !counts.isEmpty()) {
                counts.removeLast();
                listStyle.removeLast();
            } else if (name == u"table-row") {
                tables.endRow(out);
                notes.flush(out);
            } else if (name == u"table") {
                --tables.depth;
                out.endParagraph();
            }
        } else if (x->isCharacters() && inBody > 0 && skipping == 0) {
            if (inNote > 0) {
                if (note.size() + x->text().size() > limits.maxChars)
                    throw ExtractError::tooLarge();
                note += x->text();
            } else {
                out.add(x->text());
            }
        }
    }
    return out.finish();
}

QString epubToText(QByteArrayView bytes, const Limits &limits) {
    ZipArchive zip(bytes);
    // The container names the package document, which lists the chapters in reading order.
    QString opfPath;
    {
        SafeXml x(zip.read(QStringLiteral("META-INF/container.xml")), limits);
        while (opfPath.isEmpty() && x.next())
            if (x->isStartElement() && x->name() == u"rootfile")
                opfPath = x->attributes().value(QStringLiteral("full-path")).toString();
    }
    if (opfPath.isEmpty())
        throw ExtractError::damaged();
    QHash<QString, QString> manifest; // id -> href
    QStringList spine;
    {
        SafeXml x(zip.read(opfPath), limits);
        while (x.next()) {
            if (!x->isStartElement())
                continue;
            const auto a = x->attributes();
            if (x->name() == u"item")
                manifest.insert(a.value(QStringLiteral("id")).toString(),
                                a.value(QStringLiteral("href")).toString());
            else if (x->name() == u"itemref")
                spine.append(a.value(QStringLiteral("idref")).toString());
        }
    }
    TextBuilder out(limits);
    int chapters = 0;
    for (const QString &id : std::as_const(spine)) {
        reportProgress(chapters++, int(spine.size()));
        const QString href = manifest.value(id);
        if (href.isEmpty())
            continue;
        const QString chapter = htmlToText(zip.read(resolve(opfPath, href)), limits);
        for (const QStringView paragraph : QStringView(chapter).split(u'\n')) {
            out.add(paragraph);
            out.endParagraph();
        }
    }
    return out.finish();
}

} // namespace extract
