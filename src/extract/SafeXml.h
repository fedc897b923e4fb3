#pragma once
// Qt's XML reader with the limits that keep a hostile document from exhausting it.

#include "ExtractError.h"
#include "TextBuilder.h"

#include <QByteArray>
#include <QXmlStreamReader>

namespace extract {

// The next token, with the checks every XML document read here gets: no entity declarations
// (nothing in these files needs them, and they are how entity bombs are built), nesting within the
// limit, well-formed to the end.
class SafeXml {
public:
    SafeXml(const QByteArray &xml, const Limits &limits)
        : m_reader(xml)
        , m_maxDepth(limits.maxDepth) {}

    bool next() {
        while (!m_reader.atEnd()) {
            switch (m_reader.readNext()) {
            case QXmlStreamReader::DTD:
                if (m_reader.text().contains(u'[') || !m_reader.entityDeclarations().isEmpty())
                    throw ExtractError::damaged();
                continue;
            case QXmlStreamReader::StartElement:
                if (++m_depth > m_maxDepth)
                    throw ExtractError::damaged();
                return true;
            case QXmlStreamReader::EndElement:
                --m_depth;
                return true;
            case QXmlStreamReader::Characters:
                return true;
            default:
                continue;
            }
        }
        if (m_reader.hasError())
            throw ExtractError::damaged();
        return false;
    }
    // Elements open around the token just read, counting a start element itself.
    int depth() const { return m_depth; }
    QXmlStreamReader &operator*() { return m_reader; }
    QXmlStreamReader *operator->() { return &m_reader; }

private:
    QXmlStreamReader m_reader;
    const int m_maxDepth;
    int m_depth = 0;
};

} // namespace extract
