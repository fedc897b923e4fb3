#include "MarkdownReader.h"
#include "MarkedText.h"

#include <gumbo.h>
#include <md4c.h>

#include <QHash>

#include <exception>
#include <limits>
#include <vector>

namespace extract {

namespace {

// md4c hands character references over as written ("&eacute;", "&#233;"). Numeric ones are
// plain arithmetic; named ones go through the HTML parser's own table of names, remembered,
// since a document tends to use the same few many times.
class Entities {
public:
    QString decode(QByteArrayView entity) {
        if (entity.size() >= 3 && entity[1] == '#')
            return numeric(entity.sliced(2, entity.size() - 3));
        const QByteArray key = entity.toByteArray();
        const auto known = m_named.constFind(key);
        if (known != m_named.cend())
            return *known;
        const QString text = named(key);
        if (m_named.size() < 4096)
            m_named.insert(key, text);
        return text;
    }

private:
    static QString numeric(QByteArrayView digits) {
        bool ok = false;
        uint code = 0;
        if (!digits.isEmpty() && (digits[0] == 'x' || digits[0] == 'X'))
            code = digits.sliced(1).toByteArray().toUInt(&ok, 16);
        else
            code = digits.toByteArray().toUInt(&ok, 10);
        // As HTML reads them: nothing, surrogates and numbers past Unicode are not characters.
        if (!ok || code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            code = 0xFFFD;
        const char32_t c = code;
        return QString::fromUcs4(&c, 1);
    }

    static QString named(const QByteArray &entity) {
        GumboOutput *output = gumbo_parse_with_options(&kGumboDefaultOptions, entity.constData(),
                                                       std::size_t(entity.size()));
        if (!output)
            return QString::fromUtf8(entity);
        QString text;
        // The tree of a lone reference is tiny: html, head, body, one text node.
        std::vector<const GumboNode *> nodes{output->root};
        while (!nodes.empty() && text.isEmpty()) {
            const GumboNode *node = nodes.back();
            nodes.pop_back();
            if (node->type == GUMBO_NODE_TEXT) {
                text = QString::fromUtf8(node->v.text.text);
            } else if (node->type == GUMBO_NODE_ELEMENT) {
                const GumboVector &children = node->v.element.children;
                for (unsigned int i = 0; i < children.length; ++i)
                    nodes.push_back(static_cast<const GumboNode *>(children.data[i]));
            }
        }
        gumbo_destroy_output(&kGumboDefaultOptions, output);
        return text.isEmpty() ? QString::fromUtf8(entity) : text;
    }

    QHash<QByteArray, QString> m_named;
};

class Reader {
public:
    explicit Reader(const Limits &limits)
        : m_out(limits)
        , m_maxDepth(limits.maxDepth) {}

    QString run(QByteArrayView utf8) {
        if (utf8.size() > qsizetype(std::numeric_limits<MD_SIZE>::max()))
            throw ExtractError::tooLarge();
        MD_PARSER parser{};
        parser.flags = MD_FLAG_NOHTML | MD_FLAG_TABLES | MD_FLAG_STRIKETHROUGH;
        parser.enter_block = [](MD_BLOCKTYPE type, void *detail, void *self) {
            return guarded(self, [&](Reader &r) { r.enterBlock(type, detail); });
        };
        parser.leave_block = [](MD_BLOCKTYPE type, void *, void *self) {
            return guarded(self, [&](Reader &r) { r.leaveBlock(type); });
        };
        parser.enter_span = [](MD_SPANTYPE type, void *, void *self) {
            return guarded(self, [&](Reader &r) { r.m_image += type == MD_SPAN_IMG; });
        };
        parser.leave_span = [](MD_SPANTYPE type, void *, void *self) {
            return guarded(self, [&](Reader &r) { r.m_image -= type == MD_SPAN_IMG; });
        };
        parser.text = [](MD_TEXTTYPE type, const MD_CHAR *text, MD_SIZE size, void *self) {
            return guarded(self, [&](Reader &r) { r.addText(type, QByteArrayView(text, size)); });
        };
        m_inputSize = utf8.size();
        const int status = md_parse(utf8.data(), MD_SIZE(utf8.size()), &parser, this);
        if (m_error)
            std::rethrow_exception(m_error);
        if (status != 0)
            throw ExtractError::damaged();
        return m_out.finish();
    }

private:
    struct List {
        bool ordered;
        qint64 next;
    };

    // Exceptions must not cross md4c's C frames: kept, parsing stopped, thrown again after.
    template <typename F> static int guarded(void *self, F &&f) {
        auto &reader = *static_cast<Reader *>(self);
        try {
            f(reader);
            return 0;
        } catch (...) {
            reader.m_error = std::current_exception();
            return 1;
        }
    }

    void enterBlock(MD_BLOCKTYPE type, void *detail) {
        switch (type) {
        case MD_BLOCK_DOC:
            break;
        case MD_BLOCK_TH:
        case MD_BLOCK_TD:
            if (m_rowHasText)
                m_out.setMark(QStringLiteral(", "));
            break;
        case MD_BLOCK_UL:
        case MD_BLOCK_OL:
            m_out.endParagraph();
            // Lists nested past the limit read as bullets of their own, their items still on
            // their own lines.
            if (m_lists.size() < std::size_t(m_maxDepth)) {
                const bool ordered = type == MD_BLOCK_OL;
                m_lists.push_back(
                    {ordered, ordered ? static_cast<MD_BLOCK_OL_DETAIL *>(detail)->start : 0});
            } else {
                ++m_deeperLists;
            }
            break;
        case MD_BLOCK_LI:
            m_out.endParagraph();
            if (m_deeperLists == 0 && !m_lists.empty() && m_lists.back().ordered)
                m_out.setMark(QString::number(m_lists.back().next++) + QStringLiteral(". "));
            else
                m_out.setMark(QStringLiteral("• "));
            break;
        case MD_BLOCK_TR:
            m_out.endParagraph();
            m_rowHasText = false;
            m_out.setMark({});
            break;
        case MD_BLOCK_CODE:
            m_out.endParagraph();
            m_code = true;
            break;
        default:
            m_out.endParagraph();
            break;
        }
    }

    void leaveBlock(MD_BLOCKTYPE type) {
        switch (type) {
        case MD_BLOCK_TH:
        case MD_BLOCK_TD:
            break;
        case MD_BLOCK_UL:
        case MD_BLOCK_OL:
            if (m_deeperLists > 0)
                --m_deeperLists;
            else if (!m_lists.empty())
                m_lists.pop_back();
            m_out.endParagraph();
            break;
        case MD_BLOCK_LI:
        case MD_BLOCK_TR:
            m_out.endParagraph();
            m_out.setMark({}); // an empty item or cell reads nothing, not even its mark
            m_rowHasText = false;
            break;
        case MD_BLOCK_CODE:
            m_code = false;
            m_out.endParagraph();
            break;
        default:
            m_out.endParagraph();
            break;
        }
    }

    void addText(MD_TEXTTYPE type, QByteArrayView text) {
        // Every piece of text md4c hands over is part of the document. Under fuzzing it once
        // handed over a piece of 3 GB from a document of 785 bytes (not reproducible, so
        // presumably from memory it had not set): refused, rather than read or decoded.
        if (text.size() > m_inputSize)
            throw ExtractError::damaged();
        if (m_image > 0)
            return; // an image's description, like alt text on a page, is not read
        switch (type) {
        case MD_TEXT_BR:
            m_out.endParagraph();
            break;
        case MD_TEXT_SOFTBR:
            m_out.space();
            break;
        case MD_TEXT_NULLCHAR:
            addRun(QStringView(u"\uFFFD"));
            break;
        case MD_TEXT_ENTITY:
            addRun(m_entities.decode(text));
            break;
        default: {
            const QString decoded = QString::fromUtf8(text);
            if (!m_code)
                return addRun(decoded);
            // A code block keeps its lines.
            qsizetype start = 0;
            for (qsizetype i = 0; i < decoded.size(); ++i) {
                if (decoded[i] == u'\n') {
                    addRun(QStringView(decoded).mid(start, i - start));
                    m_out.endParagraph();
                    start = i + 1;
                }
            }
            addRun(QStringView(decoded).mid(start));
            break;
        }
        }
    }

    void addRun(QStringView text) { m_rowHasText = m_out.add(text) || m_rowHasText; }

    MarkedText m_out;
    const int m_maxDepth;
    qsizetype m_inputSize = 0;
    Entities m_entities;
    std::vector<List> m_lists;
    int m_deeperLists = 0;
    int m_image = 0;
    bool m_code = false;
    bool m_rowHasText = false;
    std::exception_ptr m_error;
};

} // namespace

QString markdownToText(QByteArrayView utf8, const Limits &limits) {
    return Reader(limits).run(utf8);
}

} // namespace extract
