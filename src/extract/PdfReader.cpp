#include "PdfReader.h"
#include "Progress.h"

#include <QHash>
#include <QList>
#include <QRegularExpression>

#include <mupdf/fitz.h>

#include <memory>

namespace extract {
namespace {

struct Line {
    QString text;
    float top = 0;    // of the line, on its page
    float bottom = 0; // of the line, on its page
    bool endsWithHyphen = false;
};

struct Block {
    QList<Line> lines;
};

struct Page {
    float height = 0;
    QList<Block> blocks;
};

QString ligaturesSpelledOut(QString text) {
    static const std::pair<char16_t, const char *> kLigatures[] = {
        {0xFB00, "ff"},  {0xFB01, "fi"}, {0xFB02, "fl"}, {0xFB03, "ffi"},
        {0xFB04, "ffl"}, {0xFB05, "st"}, {0xFB06, "st"}};
    for (const auto &[ligature, letters] : kLigatures)
        text.replace(QChar(ligature), QLatin1String(letters));
    return text;
}

// What a running header or footer has in common from page to page: its words, with numbers
// (the page number, a date) counted as the same.
QString shape(const QString &line) {
    static const QRegularExpression digits(QStringLiteral("\\d+"));
    return QString(line).replace(digits, QStringLiteral("#")).simplified();
}

bool isPageNumber(const QString &line) {
    static const QRegularExpression number(
        QStringLiteral("^(page\\s+)?[\\divxlc]+(\\s*(/|of)\\s*\\d+)?$"),
        QRegularExpression::CaseInsensitiveOption);
    return number.match(line.trimmed()).hasMatch();
}

class Context {
public:
    Context()
        : m_ctx(fz_new_context(nullptr, nullptr, FZ_STORE_DEFAULT)) {
        if (!m_ctx)
            throw std::bad_alloc();
        fz_register_document_handlers(m_ctx);
        // mupdf reports repairs of damaged files on stderr; nobody reads that here.
        fz_set_warning_callback(
            m_ctx, [](void *, const char *) {}, nullptr);
        fz_set_error_callback(
            m_ctx, [](void *, const char *) {}, nullptr);
    }
    ~Context() { fz_drop_context(m_ctx); }
    fz_context *get() const { return m_ctx; }

private:
    fz_context *m_ctx;
};

QList<Page> readPages(fz_context *ctx, QByteArrayView bytes) {
    QList<Page> pages;
    fz_document *doc = nullptr;
    fz_stream *stream = nullptr;
    fz_stext_page *text = nullptr;
    fz_page *page = nullptr;
    bool locked = false;
    fz_var(doc);
    fz_var(stream);
    fz_var(text);
    fz_var(page);
    fz_try(ctx) {
        stream = fz_open_memory(ctx, reinterpret_cast<const unsigned char *>(bytes.data()),
                                std::size_t(bytes.size()));
        doc = fz_open_document_with_stream(ctx, "application/pdf", stream);
        if (fz_needs_password(ctx, doc) && !fz_authenticate_password(ctx, doc, "")) {
            locked = true;
            fz_throw(ctx, FZ_ERROR_GENERIC, "password");
        }
        const int count = fz_count_pages(ctx, doc);
        for (int i = 0; i < count; ++i) {
            page = fz_load_page(ctx, doc, i);
            fz_stext_options options{};
            options.flags = FZ_STEXT_DEHYPHENATE;
            text = fz_new_stext_page_from_page(ctx, page, &options);
            Page out;
            out.height = fz_bound_page(ctx, page).y1;
            for (fz_stext_block *b = text->first_block; b; b = b->next) {
                if (b->type != FZ_STEXT_BLOCK_TEXT)
                    continue;
                Block block;
                for (fz_stext_line *l = b->u.t.first_line; l; l = l->next) {
                    Line line;
                    line.top = l->bbox.y0;
                    line.bottom = l->bbox.y1;
                    for (fz_stext_char *c = l->first_char; c; c = c->next) {
                        char32_t code = char32_t(c->c);
                        line.text += QString::fromUcs4(&code, 1);
                    }
                    line.endsWithHyphen = line.text.endsWith(u'-') && line.text.size() > 1 &&
                                          line.text.at(line.text.size() - 2).isLetter();
                    block.lines.append(line);
                }
                if (!block.lines.isEmpty())
                    out.blocks.append(block);
            }
            fz_drop_stext_page(ctx, text);
            text = nullptr;
            fz_drop_page(ctx, page);
            page = nullptr;
            pages.append(out);
            reportProgress(i + 1, count);
        }
    }
    fz_always(ctx) {
        fz_drop_stext_page(ctx, text);
        fz_drop_page(ctx, page);
        fz_drop_document(ctx, doc);
        fz_drop_stream(ctx, stream);
    }
    fz_catch(ctx) {
        if (locked)
            throw ExtractError(ExtractError::Kind::Encrypted,
                               QStringLiteral("The file is password-protected."));
        throw ExtractError::damaged();
    }
    return pages;
}

// The shapes of lines in the top or bottom tenth of at least three pages that come back on at
// least half the pages, either of the whole document (the book's title) or of the stretch
// between their first and last page (a chapter's title, perhaps on every other page):
// running headers and footers.
QHash<QString, int> runningLines(const QList<Page> &pages) {
    struct Seen {
        int count = 0;
        qsizetype first = 0;
        qsizetype last = 0;
    };
    QHash<QString, Seen> seen;
    for (qsizetype index = 0; index < pages.size(); ++index) {
        const Page &page = pages[index];
        QSet<QString> onThisPage;
        for (const Block &block : page.blocks)
            for (const Line &line : block.lines)
                if (line.bottom < page.height * 0.1f || line.top > page.height * 0.9f)
                    onThisPage.insert(shape(line.text));
        for (const QString &s : std::as_const(onThisPage)) {
            Seen &line = seen[s];
            if (line.count++ == 0)
                line.first = index;
            line.last = index;
        }
    }
    QHash<QString, int> running;
    const int needed = std::max<int>(3, int(pages.size() + 1) / 2);
    for (auto it = seen.cbegin(); it != seen.cend(); ++it) {
        const Seen &line = it.value();
        const bool inStretch = line.count >= 3 && 2 * line.count >= line.last - line.first + 1;
        if ((line.count >= needed || inStretch) && !it.key().isEmpty())
            running.insert(it.key(), line.count);
    }
    return running;
}

} // namespace

QString pdfToText(QByteArrayView bytes, const Limits &limits) {
    Context context;
    const QList<Page> pages = readPages(context.get(), bytes);
    const QHash<QString, int> running = runningLines(pages);
    TextBuilder out(limits);
    // A block that stops mid-sentence and one that goes on in lower case are one paragraph
    // broken by a page or column end: they are read as one.
    bool midSentence = false;
    for (const Page &page : pages) {
        for (const Block &block : page.blocks) {
            QStringList kept;
            QList<bool> hyphenated;
            for (const Line &line : block.lines) {
                const bool margin =
                    line.bottom < page.height * 0.1f || line.top > page.height * 0.9f;
                if (margin && (running.contains(shape(line.text)) || isPageNumber(line.text)))
                    continue;
                kept.append(ligaturesSpelledOut(line.text));
                hyphenated.append(line.endsWithHyphen);
            }
            if (kept.isEmpty())
                continue;
            const QString first = kept.first().trimmed();
            if (!(midSentence && !first.isEmpty() && first.front().isLower()))
                out.endParagraph();
            for (qsizetype i = 0; i < kept.size(); ++i) {
                if (hyphenated[i]) {
                    out.add(QStringView(kept[i]).chopped(1)); // "read-" + "ing": one word again
                } else {
                    out.add(kept[i]);
                    out.add(u" ");
                }
            }
            const QString last = kept.last().trimmed();
            midSentence =
                hyphenated.last() ||
                (!last.isEmpty() && (last.back().isLetterOrNumber() || last.back() == u','));
        }
    }
    QString text = out.finish();
    if (text.trimmed().isEmpty())
        throw ExtractError(ExtractError::Kind::NoText,
                           QStringLiteral("This PDF contains no text (it may be scanned pages)."));
    return text;
}

} // namespace extract
