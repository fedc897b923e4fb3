#include "Subtitles.h"

#include <QList>
#include <QRegularExpression>

#include <utility>

namespace extract {
namespace {

bool isTiming(QStringView line) {
    return line.contains(QLatin1String("-->"));
}

bool isCueNumber(QStringView line) {
    if (line.isEmpty())
        return false;
    for (const QChar c : line)
        if (!c.isDigit())
            return false;
    return true;
}

// "<i>", "</b>", "<c.yellow>", "<00:00:01.000>" and SSA overrides such as "{\an8}".
QString withoutTags(QStringView line) {
    static const QRegularExpression tags(QStringLiteral("<[^>]*>|\\{\\\\[^}]*\\}"));
    return line.toString().remove(tags);
}

} // namespace

QString subtitlesToText(const QString &decoded, const Limits &limits) {
    TextBuilder text(limits);
    QList<QStringView> block; // the lines of this block that may be said
    bool skipping = false;    // inside a WebVTT header, NOTE, STYLE or REGION block
    bool first = true;
    bool timed = false; // this block's timing line has passed
    const auto endBlock = [&] {
        for (const QStringView line : std::as_const(block)) {
            text.add(withoutTags(line));
            text.add(u" ");
        }
        text.endParagraph();
        block.clear();
        skipping = false;
        timed = false;
    };
    for (QStringView line : QStringView(decoded).split(u'\n')) {
        const QStringView trimmed = line.trimmed();
        if (trimmed.isEmpty()) {
            endBlock();
            first = false;
            continue;
        }
        if ((first && trimmed.startsWith(QLatin1String("WEBVTT"))) ||
            (block.isEmpty() &&
             (trimmed.startsWith(QLatin1String("NOTE")) || trimmed == QLatin1String("STYLE") ||
              trimmed == QLatin1String("REGION"))))
            skipping = true;
        first = false;
        if (skipping)
            continue;
        if (isTiming(trimmed)) {
            // What came before the timing in this block was the cue's number or name.
            block.clear();
            timed = true;
            continue;
        }
        if (!timed && block.isEmpty() && isCueNumber(trimmed))
            continue;
        block.append(trimmed);
    }
    endBlock();
    return text.finish();
}

} // namespace extract
