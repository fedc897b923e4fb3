#include "PackageReaders.h"
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
    SafeXml x(zip.read(QStringLiteral("word/document.xml")), limits);
    MarkedText out(limits);
    Tables tables;
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
            }
        } else if (x->isEndElement()) {
            if (name == u"t") {
                inText = false;
            } else if (name == u"pPr" && !numId.isEmpty() && numId != u"0") {
                out.setMark(numbering.mark(numId, level));
            } else if (name == u"p") {
                if (tables.depth > 0)
                    out.space();
                else
                    out.endParagraph();
            } else if (name == u"tr") {
                tables.endRow(out);
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
    SafeXml x(zip.read(QStringLiteral("content.xml")), limits);
    MarkedText out(limits);
    Tables tables;
    int inBody = 0;    // inside office:text
    int skipping = 0;  // inside a note, an annotation or a frame's caption we do not read
    QList<int> counts; // the numbers of the lists being read; -1 for bulleted ones
    while (x.next()) {
        const auto name = x->name();
        if (x->isStartElement()) {
            if (name == u"text" && x->prefix() == u"office")
                ++inBody;
            if (skipping > 0 || name == u"note" || name == u"annotation" ||
                name == u"tracked-changes") {
                ++skipping;
                continue;
            }
            if (name == u"s" || name == u"tab" || name == u"line-break") {
                out.space();
            } else if (name == u"list") {
                // Without its style the kind of a list is unknown: numbered if it says where
                // it continues or starts, else bulleted.
                const bool numbered =
                    x->attributes().hasAttribute(QStringLiteral("text:continue-numbering")) ||
                    x->attributes().hasAttribute(QStringLiteral("text:start-value"));
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
            if (name == u"text" && x->prefix() == u"office")
                --inBody;
            else if (name == u"p" || name == u"h")
                tables.depth > 0 ? out.space() : out.endParagraph();
            else if (name == u"list" && !counts.isEmpty())
                counts.removeLast();
            else if (name == u"table-row")
                tables.endRow(out);
            else if (name == u"table") {
                --tables.depth;
                out.endParagraph();
            }
        } else if (x->isCharacters() && inBody > 0 && skipping == 0) {
            out.add(x->text());
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
    for (const QString &id : std::as_const(spine)) {
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
