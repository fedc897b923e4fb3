#include "HtmlReader.h"
#include "Encoding.h"
#include "MarkedText.h"

#include <gumbo.h>

#include <QRegularExpression>
#include <QtGlobal>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <limits>
#include <vector>

namespace extract {

namespace {

// What an element means for the text read aloud.
enum class Role {
    Inline,   // its text runs on inside the paragraph
    Skip,     // nothing in it is read: scripts, styles, the head
    Block,    // starts and ends a paragraph
    Break,    // <br>: ends the paragraph
    List,     // <ol>/<ul>: numbers or bullets its items
    ListItem, // a paragraph starting with its number or bullet
    Row,      // a table row: one paragraph, cells joined
    Cell,
    Pre, // every line a paragraph of its own
};

Role roleOf(GumboTag tag) {
    switch (tag) {
    case GUMBO_TAG_HEAD:
    case GUMBO_TAG_TITLE:
    case GUMBO_TAG_SCRIPT:
    case GUMBO_TAG_STYLE:
    case GUMBO_TAG_TEMPLATE:
    case GUMBO_TAG_NOSCRIPT:
    case GUMBO_TAG_NOFRAMES:
    case GUMBO_TAG_NOEMBED:
    case GUMBO_TAG_IFRAME:
    case GUMBO_TAG_OBJECT:
    case GUMBO_TAG_EMBED:
    case GUMBO_TAG_CANVAS:
    case GUMBO_TAG_VIDEO:
    case GUMBO_TAG_AUDIO:
    case GUMBO_TAG_MAP:
    case GUMBO_TAG_SELECT:
    case GUMBO_TAG_DATALIST:
    case GUMBO_TAG_TEXTAREA:
    case GUMBO_TAG_DESC: // an SVG drawing's description, like alt text
    case GUMBO_TAG_RP:   // the brackets around ruby text
        return Role::Skip;
    case GUMBO_TAG_BODY:
    case GUMBO_TAG_ARTICLE:
    case GUMBO_TAG_SECTION:
    case GUMBO_TAG_NAV:
    case GUMBO_TAG_ASIDE:
    case GUMBO_TAG_H1:
    case GUMBO_TAG_H2:
    case GUMBO_TAG_H3:
    case GUMBO_TAG_H4:
    case GUMBO_TAG_H5:
    case GUMBO_TAG_H6:
    case GUMBO_TAG_HGROUP:
    case GUMBO_TAG_HEADER:
    case GUMBO_TAG_FOOTER:
    case GUMBO_TAG_ADDRESS:
    case GUMBO_TAG_P:
    case GUMBO_TAG_HR:
    case GUMBO_TAG_BLOCKQUOTE:
    case GUMBO_TAG_DL:
    case GUMBO_TAG_DT:
    case GUMBO_TAG_DD:
    case GUMBO_TAG_FIGURE:
    case GUMBO_TAG_FIGCAPTION:
    case GUMBO_TAG_MAIN:
    case GUMBO_TAG_DIV:
    case GUMBO_TAG_TABLE:
    case GUMBO_TAG_CAPTION:
    case GUMBO_TAG_THEAD:
    case GUMBO_TAG_TBODY:
    case GUMBO_TAG_TFOOT:
    case GUMBO_TAG_FORM:
    case GUMBO_TAG_FIELDSET:
    case GUMBO_TAG_LEGEND:
    case GUMBO_TAG_DETAILS:
    case GUMBO_TAG_SUMMARY:
    case GUMBO_TAG_CENTER:
    case GUMBO_TAG_OPTION:
    case GUMBO_TAG_FRAMESET:
        return Role::Block;
    case GUMBO_TAG_BR:
        return Role::Break;
    case GUMBO_TAG_OL:
    case GUMBO_TAG_UL:
    case GUMBO_TAG_MENU:
    case GUMBO_TAG_DIR:
        return Role::List;
    case GUMBO_TAG_LI:
        return Role::ListItem;
    case GUMBO_TAG_TR:
        return Role::Row;
    case GUMBO_TAG_TD:
    case GUMBO_TAG_TH:
        return Role::Cell;
    case GUMBO_TAG_PRE:
    case GUMBO_TAG_LISTING:
    case GUMBO_TAG_XMP:
    case GUMBO_TAG_PLAINTEXT:
        return Role::Pre;
    default:
        return Role::Inline;
    }
}

// An integer attribute as a browser reads it for list numbers; `fallback` when absent or bad.
qint64 intAttribute(const GumboNode *node, const char *name, qint64 fallback) {
    const GumboAttribute *attribute = gumbo_get_attribute(&node->v.element.attributes, name);
    if (!attribute)
        return fallback;
    bool ok = false;
    const qint64 value = QByteArray(attribute->value).trimmed().toLongLong(&ok);
    if (!ok)
        return fallback;
    // The range of an int, as browsers keep; far from overflowing however many items follow.
    return qBound(qint64(std::numeric_limits<int>::min()), value,
                  qint64(std::numeric_limits<int>::max()));
}

struct Frame {
    const GumboNode *node;
    unsigned int child;
    Role role;
};

class Walker {
public:
    explicit Walker(const Limits &limits)
        : m_out(limits)
        , m_maxDepth(limits.maxDepth) {}

    QString run(const GumboNode *root) {
        // An explicit stack: a page can nest elements as deep as it likes.
        std::vector<Frame> stack{{root, 0, Role::Inline}};
        while (!stack.empty()) {
            Frame &frame = stack.back();
            const GumboVector &children = frame.node->type == GUMBO_NODE_DOCUMENT
                                              ? frame.node->v.document.children
                                              : frame.node->v.element.children;
            if (frame.child >= children.length) {
                leave(frame);
                stack.pop_back();
                continue;
            }
            const auto *child = static_cast<const GumboNode *>(children.data[frame.child++]);
            switch (child->type) {
            case GUMBO_NODE_TEXT:
            case GUMBO_NODE_WHITESPACE:
            case GUMBO_NODE_CDATA:
                addText(QString::fromUtf8(child->v.text.text));
                break;
            case GUMBO_NODE_ELEMENT: {
                Role role = roleOf(child->v.element.tag);
                if (role == Role::Skip)
                    break;
                // Past the depth limit the structure is dropped: the text still reads, as part
                // of the deepest paragraph kept.
                if (stack.size() > std::size_t(m_maxDepth))
                    role = Role::Inline;
                enter(child, role);
                stack.push_back({child, 0, role});
                break;
            }
            default: // comments, templates, the document type
                break;
            }
        }
        return m_out.finish();
    }

private:
    struct List {
        bool ordered;
        qint64 next;
    };

    void enter(const GumboNode *node, Role role) {
        switch (role) {
        case Role::Inline:
        case Role::Skip:
            break;
        case Role::Block:
        case Role::Break:
            breakParagraph();
            break;
        case Role::Pre:
            breakParagraph();
            ++m_pre;
            break;
        case Role::List:
            breakParagraph();
            m_lists.push_back(
                {node->v.element.tag == GUMBO_TAG_OL, intAttribute(node, "start", 1)});
            break;
        case Role::ListItem: {
            breakParagraph();
            QString mark = QStringLiteral("• ");
            if (!m_lists.empty() && m_lists.back().ordered) {
                List &list = m_lists.back();
                list.next = intAttribute(node, "value", list.next);
                mark = QString::number(list.next++) + QStringLiteral(". ");
            }
            // Only the innermost item's mark is read when an item holds nothing but a list;
            // inside a table cell the mark follows the cell's separator.
            m_out.setMark(m_cells > 0 ? m_out.mark() + mark : mark);
            break;
        }
        case Role::Row:
            breakParagraph();
            m_rows.push_back(false);
            if (m_cells == 0)
                m_out.setMark({});
            break;
        case Role::Cell:
            if (!m_rows.empty() && m_rows.back())
                m_out.setMark(QStringLiteral(", "));
            else
                m_out.space();
            ++m_cells;
            break;
        }
    }

    void leave(const Frame &frame) {
        switch (frame.role) {
        case Role::Inline:
        case Role::Skip:
        case Role::Break:
            break;
        case Role::Block:
            breakParagraph();
            break;
        case Role::ListItem:
            breakParagraph();
            if (m_cells == 0)
                m_out.setMark({}); // an empty item's mark is not read before what follows
            break;
        case Role::Pre:
            --m_pre;
            breakParagraph();
            break;
        case Role::List:
            m_lists.pop_back();
            breakParagraph();
            break;
        case Role::Row:
            m_rows.pop_back();
            breakParagraph();
            if (m_cells == 0)
                m_out.setMark({});
            break;
        case Role::Cell:
            --m_cells;
            break;
        }
    }

    // Inside a table cell a block only separates words: the row stays one paragraph.
    void breakParagraph() {
        if (m_cells > 0)
            m_out.space();
        else
            m_out.endParagraph();
    }

    void addText(QStringView text) {
        if (m_pre > 0) {
            qsizetype start = 0;
            for (qsizetype i = 0; i < text.size(); ++i) {
                if (text[i] == u'\n' || text[i] == u'\r') {
                    addRun(text.mid(start, i - start));
                    breakParagraph();
                    start = i + 1;
                }
            }
            addRun(text.mid(start));
        } else {
            addRun(text);
        }
    }

    void addRun(QStringView text) {
        if (m_out.add(text) && !m_rows.empty())
            m_rows.back() = true;
    }

    MarkedText m_out;
    const int m_maxDepth;
    std::vector<List> m_lists;
    std::vector<bool> m_rows; // per open row: has a cell read anything yet
    int m_pre = 0;
    int m_cells = 0;
};

// gumbo frees its tree recursively, one call per level of nesting, so a deep enough page would
// overflow the stack. It allocates through us instead: every block is kept on a list, and
// freeing the list frees the tree, however deep, without gumbo_destroy_output.
class GumboMemory {
public:
    GumboMemory() = default;
    GumboMemory(const GumboMemory &) = delete;
    GumboMemory &operator=(const GumboMemory &) = delete;
    ~GumboMemory() {
        for (Header *block = m_head.next; block != &m_head;) {
            Header *next = block->next;
            std::free(block);
            block = next;
        }
    }

    void use(GumboOptions &options) {
        options.allocator = allocate;
        options.deallocator = release;
        options.userdata = this;
    }

private:
    struct alignas(std::max_align_t) Header {
        Header *prev;
        Header *next;
    };

    static void *allocate(void *self, std::size_t size) {
        auto *block = static_cast<Header *>(std::malloc(sizeof(Header) + size));
        if (!block)
            std::abort(); // gumbo does not check; the worker's memory limit was reached
        Header &head = static_cast<GumboMemory *>(self)->m_head;
        block->prev = &head;
        block->next = head.next;
        head.next->prev = block;
        head.next = block;
        return block + 1;
    }

    static void release(void *, void *pointer) {
        if (!pointer)
            return;
        Header *block = static_cast<Header *>(pointer) - 1;
        block->prev->next = block->next;
        block->next->prev = block->prev;
        std::free(block);
    }

    Header m_head{&m_head, &m_head};
};

// gumbo's tree building slows with the square of the nesting (20,000 open elements take 0.7 s,
// 200,000 well over a minute), and no page anyone writes comes near this many.
constexpr int kMaxOpenElements = 4096;

bool endTagOptional(QByteArrayView name) {
    // Void elements never close, and these close themselves when the next one starts.
    static const QByteArrayView names[] = {
        "area",   "base",  "basefont", "bgsound",  "br",     "col",   "embed", "frame",
        "hr",     "image", "img",      "input",    "keygen", "link",  "meta",  "param",
        "source", "track", "wbr",      "p",        "li",     "dt",    "dd",    "tr",
        "td",     "th",    "option",   "optgroup", "thead",  "tbody", "tfoot", "colgroup",
        "rt",     "rp",    "caption",  "html",     "head",   "body"};
    for (const QByteArrayView n : names) {
        if (name.compare(n, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

// Whether more elements are ever open at once than kMaxOpenElements, counted from the tags
// alone: start tags that need an end tag, less end tags. Comments and the text of scripts and
// styles (which may spell out tags) are passed over.
bool nestedTooDeep(QByteArrayView html) {
    int open = 0;
    qsizetype i = 0;
    const qsizetype n = html.size();
    while ((i = html.indexOf('<', i)) >= 0 && i + 1 < n) {
        const char next = html[i + 1];
        if (html.sliced(i).startsWith("<!--")) {
            const qsizetype end = html.indexOf("-->", i + 4);
            if (end < 0)
                break;
            i = end + 3;
            continue;
        }
        if (next == '/') {
            open = std::max(0, open - 1);
            i += 2;
            continue;
        }
        if (!QChar::isLetter(uchar(next))) {
            ++i;
            continue;
        }
        qsizetype nameEnd = i + 1;
        while (nameEnd < n &&
               (QChar::isLetterOrNumber(uchar(html[nameEnd])) || html[nameEnd] == '-'))
            ++nameEnd;
        const QByteArrayView name = html.sliced(i + 1, nameEnd - i - 1);
        const qsizetype close = html.indexOf('>', nameEnd);
        if (close < 0)
            break;
        i = close + 1;
        if (html[close - 1] == '/' || endTagOptional(name))
            continue;
        if (name.compare("script", Qt::CaseInsensitive) == 0 ||
            name.compare("style", Qt::CaseInsensitive) == 0 ||
            name.compare("textarea", Qt::CaseInsensitive) == 0) {
            // Raw text up to its own end tag, which the next round counts.
            const QByteArray end = "</" + name.toByteArray();
            qsizetype at = i;
            while (
                (at = html.indexOf('<', at)) >= 0 &&
                html.sliced(at, std::min(end.size(), n - at)).compare(end, Qt::CaseInsensitive) !=
                    0)
                ++at;
            if (at < 0)
                break;
            i = at;
        }
        if (++open > kMaxOpenElements)
            return true;
    }
    return false;
}

} // namespace

QString decodeHtml(QByteArrayView bytes) {
    if (bytes.startsWith("\xEF\xBB\xBF") || bytes.startsWith("\xFF\xFE") ||
        bytes.startsWith("\xFE\xFF"))
        return decodeText(bytes);
    // Both <meta charset="koi8-r"> and <meta http-equiv="Content-Type"
    // content="text/html; charset=koi8-r"> name it after "charset=".
    static const QRegularExpression declared(
        QStringLiteral(R"(<meta\s[^>]*charset\s*=\s*["']?\s*([A-Za-z0-9._:-]+))"),
        QRegularExpression::CaseInsensitiveOption);
    const QString head = QString::fromLatin1(bytes.first(qMin<qsizetype>(bytes.size(), 1024)));
    const QRegularExpressionMatch match = declared.match(head);
    if (!match.hasMatch())
        return decodeText(bytes);
    QByteArray name = match.captured(1).toUpper().toLatin1();
    // Browsers read these labels as Windows-1252, and pages written as either rely on it.
    if (name == "ISO-8859-1" || name == "US-ASCII" || name == "LATIN1")
        name = "WINDOWS-1252";
    // A page that says UTF-8 and is not, or names an encoding iconv does not know, is better
    // told from its bytes.
    if (name == "UTF-8" || name == "UTF8")
        return decodeText(bytes);
    std::optional<QString> decoded = decodeAs(bytes, name);
    return decoded ? *decoded : decodeText(bytes);
}

QString htmlToText(QByteArrayView utf8, const Limits &limits) {
    if (nestedTooDeep(utf8))
        throw ExtractError::damaged();
    GumboMemory memory;
    GumboOptions options = kGumboDefaultOptions;
    memory.use(options);
    // A broken page would otherwise keep a record of every fault, each with a copy of the
    // elements open at the time: quadratic in time and memory on deep nesting.
    options.max_errors = 0;
    const GumboOutput *output =
        gumbo_parse_with_options(&options, utf8.data(), std::size_t(utf8.size()));
    if (!output || !output->document)
        throw ExtractError::damaged();
    return Walker(limits).run(output->document);
}

} // namespace extract
