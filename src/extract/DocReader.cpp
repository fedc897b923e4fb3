#include "DocReader.h"

#include "Cp1252.h"
#include "Progress.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <optional>
#include <utility>
#include <vector>

namespace extract {
namespace {

// Thrown where the file stops being one this reader can follow; docToText then answers nothing
// and catdoc gets the file.
struct NotHandled {};

[[noreturn]] void notHandled() {
    throw NotHandled{};
}

quint16 le16(const char *p) {
    return quint16(quint8(p[0]) | quint8(p[1]) << 8);
}
quint32 le32(const char *p) {
    return le16(p) | quint32(le16(p + 2)) << 16;
}

constexpr quint32 kEndOfChain = 0xFFFFFFFE;
constexpr qint64 kEntrySize = 128;
constexpr qint64 kMiniSectorSize = 64;
constexpr qint64 kMiniStreamCutoff = 4096;

// A stream of the compound file, read where its sectors lie in the file: nothing is copied but
// what is asked for, so a large file costs no memory of its own.
class Stream {
public:
    Stream() = default;
    Stream(QByteArrayView file, std::vector<qint64> sectors, qint64 sectorSize, qint64 size)
        : m_file(file)
        , m_sectors(std::move(sectors))
        , m_sectorSize(sectorSize)
        , m_size(size) {}

    qint64 size() const { return m_size; }
    // Throws NotHandled unless all `n` bytes from `at` are in the stream.
    void read(qint64 at, char *out, qint64 n) const {
        if (at < 0 || n < 0 || at > m_size || n > m_size - at)
            notHandled();
        while (n > 0) {
            const qint64 within = at % m_sectorSize;
            const qint64 take = std::min(n, m_sectorSize - within);
            const qint64 from = fileOffset(at);
            if (from + take > m_file.size())
                notHandled();
            std::memcpy(out, m_file.data() + from, std::size_t(take));
            at += take;
            out += take;
            n -= take;
        }
    }
    QByteArray bytes(qint64 at, qint64 n) const {
        if (n < 0 || n > m_size)
            notHandled();
        QByteArray b(n, Qt::Uninitialized);
        read(at, b.data(), n);
        return b;
    }
    quint8 u8(qint64 at) const {
        char b;
        read(at, &b, 1);
        return quint8(b);
    }
    quint16 u16(qint64 at) const {
        char b[2];
        read(at, b, 2);
        return le16(b);
    }
    quint32 u32(qint64 at) const {
        char b[4];
        read(at, b, 4);
        return le32(b);
    }
    // Where the byte at `at` (inside the stream) lies in the file.
    qint64 fileOffset(qint64 at) const {
        return m_sectors[std::size_t(at / m_sectorSize)] + at % m_sectorSize;
    }

private:
    QByteArrayView m_file;
    std::vector<qint64> m_sectors; // the file offset of each sector, in order
    qint64 m_sectorSize = 512;
    qint64 m_size = 0;
};

// The compound file a .doc is kept in: sectors chained by a FAT, whose own sectors are listed
// by the header and the DIFAT chain; a directory of named streams; and a mini stream of 64-byte
// sectors with a FAT of its own for streams under 4096 bytes. Every chain is checked for
// loops and for sectors outside the file, and no stream is larger than the file.
class CompoundFile {
public:
    explicit CompoundFile(QByteArrayView file)
        : m_file(file) {
        const char *h = file.data();
        if (file.size() < 512 || std::memcmp(h, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) != 0)
            notHandled();
        const int shift = le16(h + 30);
        if ((shift != 9 && shift != 12) || le16(h + 32) != 6)
            notHandled();
        m_sectorSize = qint64(1) << shift;
        // A last sector cut short still counts: each read checks that its bytes are there.
        m_sectorCount = file.size() > m_sectorSize ? (file.size() - 1) / m_sectorSize : 0;

        const quint32 fatSectors = le32(h + 44);
        if (fatSectors > m_sectorCount)
            notHandled();
        const auto addFat = [&](quint32 sector) {
            if (sector >= m_sectorCount)
                notHandled();
            m_fat.push_back((qint64(sector) + 1) * m_sectorSize);
        };
        for (quint32 i = 0; i < std::min<quint32>(fatSectors, 109); ++i)
            addFat(le32(h + 76 + 4 * i));
        std::vector<bool> seen(static_cast<std::size_t>(m_sectorCount));
        const qint64 perDifat = m_sectorSize / 4 - 1; // the last entry links to the next one
        for (quint32 difat = le32(h + 68); m_fat.size() < fatSectors;) {
            if (difat >= m_sectorCount || seen[difat])
                notHandled();
            seen[difat] = true;
            const qint64 at = (qint64(difat) + 1) * m_sectorSize;
            if (at + m_sectorSize > file.size())
                notHandled();
            for (qint64 i = 0; i < perDifat && m_fat.size() < fatSectors; ++i)
                addFat(le32(h + at + 4 * i));
            difat = le32(h + at + 4 * perDifat);
        }

        std::vector<qint64> directory = chain(le32(h + 48), -1, false);
        const qint64 directoryBytes = qint64(directory.size()) * m_sectorSize;
        m_directory = Stream(file, std::move(directory), m_sectorSize, directoryBytes);
        m_entries = m_directory.size() / kEntrySize;
        if (m_entries == 0)
            notHandled();
        m_root = m_directory.bytes(0, kEntrySize);
        if (m_root[66] != 5)
            notHandled();
        m_miniStream = streamOf(m_root, false);
        m_miniSectors = m_miniStream.size() / kMiniSectorSize;
        const quint32 miniFatSectors = le32(h + 64);
        if (miniFatSectors > m_sectorCount)
            notHandled();
        std::vector<qint64> miniFat = chain(le32(h + 60), miniFatSectors, false);
        const qint64 miniFatBytes = qint64(miniFat.size()) * m_sectorSize;
        m_miniFat = Stream(file, std::move(miniFat), m_sectorSize, miniFatBytes);
    }

    // The stream of that name in the root storage (not one of an embedded object's).
    std::optional<Stream> stream(QStringView name) const {
        // The root's children form a tree of siblings; each entry is looked at once at most.
        std::vector<bool> seen(static_cast<std::size_t>(m_entries));
        std::vector<quint32> todo{le32(m_root.constData() + 76)};
        while (!todo.empty()) {
            const quint32 id = todo.back();
            todo.pop_back();
            if (id >= m_entries || seen[id])
                continue;
            seen[id] = true;
            const QByteArray entry = m_directory.bytes(id * kEntrySize, kEntrySize);
            todo.push_back(le32(entry.constData() + 68));
            todo.push_back(le32(entry.constData() + 72));
            const int nameBytes = le16(entry.constData() + 64);
            if (entry[66] != 2 || nameBytes < 2 || nameBytes > 64)
                continue;
            QString entryName;
            for (int i = 0; i + 2 < nameBytes; i += 2)
                entryName += QChar(le16(entry.constData() + i));
            if (entryName.compare(name, Qt::CaseInsensitive) == 0)
                return streamOf(entry, true);
        }
        return std::nullopt;
    }

private:
    Stream streamOf(const QByteArray &entry, bool mayBeMini) const {
        qint64 size = le32(entry.constData() + 120);
        // Files of 512-byte sectors may leave garbage in the high half.
        if (m_sectorSize > 512)
            size |= qint64(le32(entry.constData() + 124)) << 32;
        if (size > m_file.size())
            notHandled();
        const quint32 start = le32(entry.constData() + 116);
        if (mayBeMini && size < kMiniStreamCutoff)
            return Stream(m_file,
                          chain(start, (size + kMiniSectorSize - 1) / kMiniSectorSize, true),
                          kMiniSectorSize, size);
        return Stream(m_file, chain(start, (size + m_sectorSize - 1) / m_sectorSize, false),
                      m_sectorSize, size);
    }

    quint32 next(quint32 sector, bool mini) const {
        if (mini)
            return m_miniFat.u32(qint64(sector) * 4);
        const qint64 perSector = m_sectorSize / 4;
        const std::size_t fatSector = std::size_t(sector / perSector);
        if (fatSector >= m_fat.size())
            notHandled();
        const qint64 at = m_fat[fatSector] + (sector % perSector) * 4;
        if (at + 4 > m_file.size())
            notHandled();
        return le32(m_file.data() + at);
    }

    // Where the sectors of a chain lie in the file: `count` of them, or all up to the chain's
    // end if `count` is negative.
    std::vector<qint64> chain(quint32 sector, qint64 count, bool mini) const {
        const qint64 limit = mini ? m_miniSectors : m_sectorCount;
        std::vector<bool> seen(static_cast<std::size_t>(limit));
        std::vector<qint64> offsets;
        while (count < 0 ? sector != kEndOfChain : qint64(offsets.size()) < count) {
            if (sector >= limit || seen[sector])
                notHandled(); // outside the file, or a loop
            seen[sector] = true;
            offsets.push_back(mini ? m_miniStream.fileOffset(sector * kMiniSectorSize)
                                   : (qint64(sector) + 1) * m_sectorSize);
            sector = next(sector, mini);
        }
        return offsets;
    }

    QByteArrayView m_file;
    qint64 m_sectorSize = 512;
    qint64 m_sectorCount = 0;
    std::vector<qint64> m_fat; // where each of the FAT's sectors lies in the file
    Stream m_directory;
    qint64 m_entries = 0;
    QByteArray m_root;
    Stream m_miniStream;
    qint64 m_miniSectors = 0;
    Stream m_miniFat;
};

// Calls f(sprm, operand, size) for each property of a list of them (a grpprl); stops at the
// first one that does not fit.
template <class F> void forSprms(const char *p, qsizetype size, F &&f) {
    constexpr quint16 kTDefTable = 0xD608;
    constexpr quint16 kPChgTabs = 0xC615;
    qsizetype at = 0;
    while (at + 2 <= size) {
        const quint16 sprm = le16(p + at);
        at += 2;
        const char *operand = p + at;
        const qsizetype left = size - at;
        // The operand's size by the sprm's top three bits; 0: sized by its first byte, but for
        // two sprms with rules of their own.
        static constexpr std::array<qsizetype, 8> kSizes = {1, 1, 2, 4, 2, 2, 0, 3};
        qsizetype n = kSizes[sprm >> 13];
        if (n == 0) {
            if (left < 2)
                return;
            if (sprm == kTDefTable) {
                n = le16(operand) + 1;
            } else if (sprm == kPChgTabs && quint8(operand[0]) == 255) {
                const qsizetype added = 2 + 4 * qsizetype(quint8(operand[1]));
                if (added >= left)
                    return;
                n = added + 1 + 3 * qsizetype(quint8(operand[added]));
            } else {
                n = 1 + quint8(operand[0]);
            }
        }
        if (n > left)
            return;
        f(sprm, operand, n);
        at += n;
    }
}

// What the text needs of a paragraph's properties.
struct Paragraph {
    bool known = false;   // false: the file gave none (or none that could be read)
    int ilfo = 0;         // 1-based list format override; 0 for none
    int ilvl = 0;         // the level in that list
    bool inTable = false; // a paragraph of a table cell
    bool rowEnd = false;  // the mark ending a table row
};

void applySprms(Paragraph &para, const char *grpprl, qsizetype size) {
    forSprms(grpprl, size, [&](quint16 sprm, const char *op, qsizetype) {
        switch (sprm) {
        case 0x260A: // sprmPIlvl
            para.ilvl = quint8(op[0]);
            break;
        case 0x460B: // sprmPIlfo
            para.ilfo = qint16(le16(op));
            break;
        case 0x2416: // sprmPFInTable
            para.inTable = op[0] != 0;
            break;
        case 0x2417: // sprmPFTtp
            para.rowEnd = op[0] != 0;
            break;
        default:
            break;
        }
    });
}

// A level of a list: how its number is written and where it starts.
struct Level {
    qint64 start = 1;
    quint8 nfc = 0;     // number format
    bool legal = false; // every number in its text decimal
    QString text;       // the label, with characters 0..8 standing for the numbers of those levels
};

constexpr quint8 kNfcNone = 255;
constexpr quint8 kNfcBullet = 23;

QString roman(qint64 n) {
    static constexpr std::array<int, 13> kValues = {1000, 900, 500, 400, 100, 90, 50,
                                                    40,   10,  9,   5,   4,   1};
    static constexpr std::array<const char *, 13> kDigits = {
        "M", "CM", "D", "CD", "C", "XC", "L", "XL", "X", "IX", "V", "IV", "I"};
    QString out;
    for (std::size_t i = 0; i < kValues.size(); ++i) {
        for (; n >= kValues[i]; n -= kValues[i])
            out += QLatin1StringView(kDigits[i]);
    }
    return out;
}

QString formatNumber(qint64 n, quint8 nfc) {
    switch (nfc) {
    case 1:
    case 2:
        if (n >= 1 && n < 4000)
            return nfc == 1 ? roman(n) : roman(n).toLower();
        break;
    case 3:
    case 4:
        // a..z, then aa..zz, and so on; past that, as numbers.
        if (n >= 1 && n <= 26 * 30)
            return QString(qsizetype((n - 1) / 26 + 1),
                           QChar(char16_t((nfc == 3 ? u'A' : u'a') + (n - 1) % 26)));
        break;
    case 22:
        if (n >= 0 && n < 10)
            return u'0' + QString::number(n);
        break;
    case kNfcNone:
        return {};
    default:
        break;
    }
    return QString::number(n);
}

// The lists of the document (PlfLst: each list's levels) and the overrides paragraphs name them
// by (PlfLfo), with the count of each list's levels so far.
class Lists {
public:
    void load(const Stream &table, qint64 lstFc, qint64 lstLcb, qint64 lfoFc, qint64 lfoLcb) {
        if (lstLcb < 2 || lfoLcb < 4)
            return;
        const qint64 count = qint16(table.u16(lstFc));
        if (count < 0 || 2 + 28 * count > lstLcb)
            notHandled();
        qint64 at = lstFc + 2 + 28 * count; // the levels of all lists follow their definitions
        for (qint64 i = 0; i < count; ++i) {
            const qint64 lstf = lstFc + 2 + 28 * i;
            std::vector<Level> &levels = m_lists[qint32(table.u32(lstf))];
            levels.clear();
            const int levelCount = (table.u8(lstf + 26) & 1) ? 1 : 9; // fSimpleList
            for (int l = 0; l < levelCount; ++l) {
                char lvlf[28];
                table.read(at, lvlf, sizeof lvlf);
                Level level;
                level.start = qint32(le32(lvlf));
                level.nfc = quint8(lvlf[4]);
                level.legal = lvlf[5] & 0x04;
                // Skipped: the properties of the number's paragraph and characters.
                at += 28 + quint8(lvlf[25]) + quint8(lvlf[24]);
                const qint64 length = table.u16(at);
                // Labels are a few characters; a longer one is only read as far as that.
                const QByteArray text = table.bytes(at + 2, std::min<qint64>(length, 64) * 2);
                for (qsizetype k = 0; k + 1 < text.size(); k += 2)
                    level.text += QChar(le16(text.constData() + k));
                at += 2 + 2 * length;
                levels.push_back(level);
            }
        }
        const qint64 overrides = table.u32(lfoFc);
        if (overrides > (lfoLcb - 4) / 16)
            notHandled();
        for (qint64 i = 0; i < overrides; ++i)
            m_overrides.push_back(qint32(table.u32(lfoFc + 4 + 16 * i)));
    }

    // The number or bullet of the next item at `paragraph`'s level of its list, counted; empty
    // if it is in none or shows nothing.
    QString label(const Paragraph &paragraph) {
        if (paragraph.ilfo < 1 || paragraph.ilfo > int(m_overrides.size()))
            return {};
        const qint32 lsid = m_overrides[std::size_t(paragraph.ilfo - 1)];
        const auto list = m_lists.find(lsid);
        if (list == m_lists.end() || list->second.empty())
            return {};
        const std::vector<Level> &levels = list->second;
        const std::size_t level =
            std::size_t(std::clamp(paragraph.ilvl, 0, int(levels.size()) - 1));
        std::vector<std::optional<qint64>> &counts = m_counts[lsid];
        counts.resize(levels.size());
        counts[level] = counts[level] ? *counts[level] + 1 : levels[level].start;
        // An item starts the count of every deeper level again.
        std::fill(counts.begin() + qsizetype(level) + 1, counts.end(), std::nullopt);

        const Level &own = levels[level];
        if (own.nfc == kNfcBullet) {
            // Bullets are often a symbol font's private character, or a letter drawn as a shape
            // in such a font ("o"): those read as the usual bullet.
            for (const QChar c : own.text) {
                if (c.isPrint() && !c.isSpace() && !c.isLetterOrNumber())
                    return QString(c);
            }
            return QStringLiteral("\u2022");
        }
        QString label;
        for (const QChar c : own.text) {
            const std::size_t k = c.unicode();
            if (k >= 9)
                label += c;
            else if (k < levels.size())
                label += formatNumber(counts[k].value_or(levels[k].start),
                                      own.legal ? quint8(0) : levels[k].nfc);
        }
        return label.trimmed();
    }

private:
    std::map<qint32, std::vector<Level>> m_lists; // by lsid
    std::vector<qint32> m_overrides;              // the lsid of each override, by ilfo - 1
    std::map<qint32, std::vector<std::optional<qint64>>> m_counts;
};

// A run of text in the piece table: characters [cp, cpEnd) at byte `fc` of the WordDocument
// stream, one byte each (Windows-1252) if compressed, else two (UTF-16).
struct Piece {
    qint64 cp = 0;
    qint64 cpEnd = 0;
    qint64 fc = 0;
    bool compressed = false;
};

// A note: cited at `ref` in the main text, its own text at [from, to).
struct Note {
    qint64 ref = 0;
    qint64 from = 0;
    qint64 to = 0;
};

class WordDocument {
public:
    WordDocument(const CompoundFile &file, Stream word, const Limits &limits)
        : m_word(std::move(word))
        , m_limits(limits) {
        if (m_word.u16(0) != 0xA5EC)
            notHandled();
        const quint16 flags = m_word.u16(10);
        if (flags & 0x0100)
            throw ExtractError(ExtractError::Kind::Encrypted,
                               QStringLiteral("The file is password-protected."));
        // Word 6 and 95 lay out their tables otherwise.
        if (m_word.u16(2) < 0xC1)
            notHandled();
        const std::optional<Stream> table = file.stream((flags & 0x0200) ? u"1Table" : u"0Table");
        if (!table)
            notHandled();
        m_table = *table;

        // The FIB: a count of 16-bit values, then of 32-bit ones (the lengths of the stories),
        // then of the (offset, length) pairs of the tables in the table stream.
        const qint64 lw = 32 + 2 + 2 * qint64(m_word.u16(32)) + 2;
        if (m_word.u16(lw - 2) < 22)
            notHandled();
        const qint64 fcLcb = lw + 4 * qint64(m_word.u16(lw - 2)) + 2;
        if (m_word.u16(fcLcb - 2) < 93)
            notHandled();
        const auto length = [&](int i) {
            const quint32 n = m_word.u32(lw + 4 * i);
            if (n > 0x7FFFFFFF)
                notHandled();
            return qint64(n);
        };
        m_ccpText = length(3);
        const qint64 ccpFtn = length(4);
        const qint64 endnotesAt = m_ccpText + ccpFtn + length(5) + length(6) + length(7);
        const qint64 ccpEdn = length(8);
        // Every character takes a byte of the stream at least: no piece table may make more.
        if (endnotesAt + ccpEdn > m_word.size())
            notHandled();
        const auto fc = [&](int i) {
            return qint64(m_word.u32(fcLcb + 8 * i));
        };
        const auto lcb = [&](int i) {
            return qint64(m_word.u32(fcLcb + 8 * i + 4));
        };

        readPieces(fc(33), lcb(33));
        readNotes(fc(2), lcb(2), fc(3), lcb(3), m_ccpText, ccpFtn);
        readNotes(fc(46), lcb(46), fc(47), lcb(47), endnotesAt, ccpEdn);
        std::sort(m_notes.begin(), m_notes.end(),
                  [](const Note &a, const Note &b) { return a.ref < b.ref; });
        // Without paragraph properties or lists the text is still read, only without labels.
        try {
            readStyles(fc(1), lcb(1));
        } catch (const NotHandled &) {
            m_styles.clear();
        }
        try {
            readParagraphTable(fc(13), lcb(13));
            m_lists.load(m_table, fc(73), lcb(73), fc(74), lcb(74));
        } catch (const NotHandled &) {
            m_pages.clear();
            m_lists = Lists();
        }
    }

    QString text() {
        TextBuilder out(m_limits);
        readStory(0, m_ccpText, out, true);
        return out.finish();
    }

private:
    void readPieces(qint64 at, qint64 size) {
        const QByteArray clx = m_table.bytes(at, size);
        const char *p = clx.constData();
        qsizetype i = 0;
        // Property lists for fast-saved pieces come first; the piece table after them.
        while (i + 3 <= clx.size() && p[i] == 0x01)
            i += 3 + le16(p + i + 1);
        if (i + 5 > clx.size() || p[i] != 0x02)
            notHandled();
        const qint64 bytes = le32(p + i + 1);
        i += 5;
        if (bytes > clx.size() - i || bytes < 16 || (bytes - 4) % 12 != 0)
            notHandled();
        const qsizetype count = qsizetype(bytes - 4) / 12;
        for (qsizetype k = 0; k < count; ++k) {
            Piece piece;
            piece.cp = le32(p + i + 4 * k);
            piece.cpEnd = le32(p + i + 4 * (k + 1));
            const quint32 fc = le32(p + i + 4 * (count + 1) + 8 * k + 2);
            piece.compressed = fc & 0x40000000;
            piece.fc = piece.compressed ? (fc & 0x3FFFFFFF) / 2 : fc;
            if (piece.cpEnd < piece.cp || (!m_pieces.empty() && piece.cp < m_pieces.back().cpEnd))
                notHandled();
            const qint64 width = piece.compressed ? 1 : 2;
            if (piece.fc + (piece.cpEnd - piece.cp) * width > m_word.size())
                notHandled();
            if (piece.cpEnd > piece.cp)
                m_pieces.push_back(piece);
        }
    }

    // A kind of note's citations (PlcfndRef) and texts (PlcfndTxt, relative to `base`), in
    // the order of the text.
    void readNotes(qint64 refAt, qint64 refSize, qint64 textAt, qint64 textSize, qint64 base,
                   qint64 storyLength) {
        if (refSize == 0)
            return;
        if (refSize < 4 || (refSize - 4) % 6 != 0)
            notHandled();
        const qint64 count = (refSize - 4) / 6;
        if (textSize < 4 * (count + 1))
            notHandled();
        const QByteArray refs = m_table.bytes(refAt, 4 * count);
        const QByteArray texts = m_table.bytes(textAt, 4 * (count + 1));
        qint64 lastRef = -1;
        qint64 lastEnd = 0;
        for (qint64 i = 0; i < count; ++i) {
            const Note note{le32(refs.constData() + 4 * i), le32(texts.constData() + 4 * i),
                            le32(texts.constData() + 4 * (i + 1))};
            if (note.ref <= lastRef || note.ref >= m_ccpText || note.from < lastEnd ||
                note.to < note.from || note.to > storyLength)
                notHandled();
            m_notes.push_back({note.ref, base + note.from, base + note.to});
            lastRef = note.ref;
            lastEnd = note.to;
        }
    }

    // The paragraph styles (STSH), for what a paragraph takes from its style: mostly a list and
    // level, as for headings numbered by their style. A style's own properties apply over those
    // of the style it is based on.
    void readStyles(qint64 at, qint64 size) {
        if (size < 6)
            return;
        const QByteArray stsh = m_table.bytes(at, size);
        const char *p = stsh.constData();
        const qsizetype header = le16(p);
        if (header < 4 || 2 + header > stsh.size())
            notHandled();
        const int count = le16(p + 2);
        const qsizetype fixed = le16(p + 4); // of each style, before its name
        std::vector<int> bases(std::size_t(count), -1);
        std::vector<QByteArray> own(bases.size());
        qsizetype i = 2 + header;
        for (std::size_t style = 0; style < bases.size() && i + 2 <= stsh.size(); ++style) {
            const qsizetype length = le16(p + i);
            const char *entry = p + i + 2;
            i += 2 + length;
            if (i > stsh.size())
                notHandled();
            // Left out: empty slots, and styles of characters, tables and lists.
            if (fixed < 10 || length < fixed + 2 || (le16(entry + 2) & 0x0F) != 1)
                continue;
            if ((le16(entry + 2) >> 4) != 0x0FFF)
                bases[style] = le16(entry + 2) >> 4;
            // After the name (counted, then ended by a zero), the paragraph properties.
            const qsizetype upx = fixed + 2 + 2 * qsizetype(le16(entry + fixed)) + 2;
            if (upx + 2 > length)
                continue;
            const qsizetype upxSize = le16(entry + upx);
            if (upxSize >= 2 && upx + 2 + upxSize <= length)
                own[style] = QByteArray(entry + upx + 4, upxSize - 2); // after the style's number
        }
        m_styles.resize(bases.size());
        for (std::size_t style = 0; style < bases.size(); ++style) {
            // From the style's first base on to the style itself; a chain that loops ends soon.
            std::vector<std::size_t> chain;
            for (int k = int(style); k >= 0 && k < count && chain.size() < 16; k = bases[k])
                chain.push_back(std::size_t(k));
            for (auto k = chain.rbegin(); k != chain.rend(); ++k)
                applySprms(m_styles[style], own[*k].constData(), own[*k].size());
        }
    }

    // PlcBtePapx: the first FC each page of paragraph properties covers, and that page.
    void readParagraphTable(qint64 at, qint64 size) {
        if (size < 12 || (size - 4) % 8 != 0)
            return;
        const qint64 count = (size - 4) / 8;
        const QByteArray plc = m_table.bytes(at, size);
        for (qint64 i = 0; i <= count; ++i)
            m_pageFcs.push_back(le32(plc.constData() + 4 * i));
        for (qint64 i = 0; i < count; ++i)
            m_pages.push_back(le32(plc.constData() + 4 * (count + 1) + 4 * i) & 0x3FFFFF);
        if (!std::is_sorted(m_pageFcs.begin(), m_pageFcs.end()))
            m_pages.clear();
    }

    // A page (FKP) of paragraph properties: its runs of FCs and the properties of each.
    struct Run {
        qint64 fc = 0;
        qint64 fcEnd = 0;
        Paragraph paragraph;
    };
    std::vector<Run> readPage(quint32 page) const {
        char p[512];
        m_word.read(qint64(page) * 512, p, 512);
        const int runs = quint8(p[511]);
        if (runs == 0 || 4 * (runs + 1) + 13 * runs > 511)
            notHandled();
        std::vector<Run> out;
        for (int j = 0; j < runs; ++j) {
            Run run{le32(p + 4 * j), le32(p + 4 * (j + 1)), {}};
            run.paragraph.known = true;
            const int offset = 2 * quint8(p[4 * (runs + 1) + 13 * j]);
            if (offset > 0 && offset < 510) {
                // A byte count: of 16-bit words if it is 0 and the next byte counts them.
                const int cb = quint8(p[offset]);
                const int start = cb ? offset + 1 : offset + 2;
                const int size = cb ? 2 * cb - 1 : 2 * quint8(p[offset + 1]);
                if (start + size > 511 || size < 2)
                    notHandled();
                // The paragraph's style (two bytes), then its own properties.
                const int style = le16(p + start);
                if (style < int(m_styles.size()))
                    run.paragraph = m_styles[std::size_t(style)];
                run.paragraph.known = true;
                applySprms(run.paragraph, p + start + 2, size - 2);
            }
            out.push_back(run);
        }
        return out;
    }

    // The properties of the paragraph whose mark is at `fc` in the WordDocument stream.
    Paragraph paragraphAt(qint64 fc) {
        const auto after = std::upper_bound(m_pageFcs.begin(), m_pageFcs.end(), fc);
        const std::size_t i = std::size_t(after - m_pageFcs.begin());
        if (i == 0 || i > m_pages.size())
            return {};
        try {
            if (m_cachedPage != m_pages[i - 1]) {
                m_cachedPage = m_pages[i - 1];
                m_runs = readPage(m_cachedPage);
            }
        } catch (const NotHandled &) {
            m_runs.clear();
        }
        for (const Run &run : m_runs) {
            if (fc >= run.fc && fc < run.fcEnd)
                return run.paragraph;
        }
        return {};
    }

    // Calls f(cp, fc, character) for each character of [from, to).
    template <class F> void forCharacters(qint64 from, qint64 to, F &&f) const {
        constexpr qint64 kChunk = 1 << 15;
        auto piece = std::upper_bound(m_pieces.begin(), m_pieces.end(), from,
                                      [](qint64 cp, const Piece &p) { return cp < p.cpEnd; });
        std::vector<char> buffer;
        for (qint64 cp = from; cp < to; ++piece) {
            if (piece == m_pieces.end() || piece->cp > cp)
                notHandled(); // text that no piece holds
            const qint64 width = piece->compressed ? 1 : 2;
            while (cp < to && cp < piece->cpEnd) {
                const qint64 n = std::min({to, piece->cpEnd, cp + kChunk}) - cp;
                const qint64 fc = piece->fc + (cp - piece->cp) * width;
                buffer.resize(std::size_t(n * width));
                m_word.read(fc, buffer.data(), n * width);
                for (qint64 k = 0; k < n; ++k) {
                    const char16_t c = piece->compressed
                                           ? parlivo::cp1252ToUnicode(quint8(buffer[k]))
                                           : le16(buffer.data() + 2 * k);
                    f(cp + k, fc + k * width, c);
                }
                cp += n;
            }
        }
    }

    // Reads the characters [from, to) of a story into `out`: the main text, with the notes it
    // cites and its list labels, or a note's own text.
    void readStory(qint64 from, qint64 to, TextBuilder &out, bool main) {
        QString paragraph;         // read so far: a paragraph, or a table cell
        qsizetype started = 0;     // where the paragraph began in it (a cell can hold several)
        int cells = 0;             // cells of the table row read so far
        std::vector<bool> fields;  // each open field: true in its instruction, false in its result
        int inInstruction = 0;     // fields open in their instruction, whose text is not read
        int tooDeep = 0;           // fields nested past the limit, never read
        std::vector<Note> pending; // notes cited in the paragraph, heard after it
        auto nextNote = m_notes.begin();
        char16_t previous = 0;

        // A table cell's text, after a comma unless it is the row's first; a paragraph outside
        // tables is read as a row of one cell.
        const auto addCell = [&] {
            const QString cell = paragraph.trimmed();
            if (!cell.isEmpty()) {
                if (cells++ > 0)
                    out.add(u",");
                out.add(u" ");
                out.add(cell);
            }
            paragraph.clear();
            started = 0;
        };
        const auto endLine = [&](qint64 cp) {
            addCell();
            cells = 0;
            out.endParagraph();
            for (const Note &note : std::as_const(pending)) {
                TextBuilder text(m_limits);
                readStory(note.from, note.to, text, false);
                out.add(text.finish().replace(u'\n', u' '));
                out.endParagraph();
            }
            pending.clear();
            if (main)
                reportProgress(int(cp), int(to));
        };
        const auto mark = [&](qint64 cp, qint64 fc, char16_t c, char16_t before) {
            const Paragraph para = paragraphAt(fc);
            // Without properties, a row's mark is known by following its last cell's.
            const bool rowEnd = c == 0x07 && (para.known ? para.rowEnd : before == 0x07);
            if (main && !rowEnd) {
                const QString label = m_lists.label(para);
                if (!label.isEmpty())
                    paragraph.insert(started, label + u' ');
            }
            if (c == 0x07 && !rowEnd) {
                addCell();
            } else if (c == 0x0D && para.inTable && !para.rowEnd) {
                paragraph += u' ';
                started = paragraph.size();
            } else {
                endLine(cp);
            }
        };

        forCharacters(from, to, [&](qint64 cp, qint64 fc, char16_t c) {
            const char16_t before = std::exchange(previous, c);
            if (main) {
                while (nextNote != m_notes.end() && nextNote->ref < cp)
                    ++nextNote;
                if (nextNote != m_notes.end() && nextNote->ref == cp)
                    pending.push_back(*nextNote);
            }
            switch (c) {
            case 0x13: // field start: its instruction follows
                if (fields.size() < std::size_t(m_limits.maxDepth)) {
                    fields.push_back(true);
                    ++inInstruction;
                } else {
                    ++tooDeep;
                }
                return;
            case 0x14: // field separator: its result follows, read as text
                if (tooDeep == 0 && !fields.empty() && fields.back()) {
                    fields.back() = false;
                    --inInstruction;
                }
                return;
            case 0x15: // field end
                if (tooDeep > 0) {
                    --tooDeep;
                } else if (!fields.empty()) {
                    inInstruction -= fields.back();
                    fields.pop_back();
                }
                return;
            case 0x0D: // paragraph end
            case 0x07: // table cell or row end
            case 0x0C: // page or section break
            case 0x0E: // column break
                // An instruction never runs past its paragraph: a field left open ends here.
                if (inInstruction > 0 || tooDeep > 0) {
                    fields.clear();
                    inInstruction = 0;
                    tooDeep = 0;
                }
                if (c == 0x0D || c == 0x07)
                    mark(cp, fc, c, before);
                else
                    endLine(cp);
                return;
            default:
                break;
            }
            if (inInstruction > 0 || tooDeep > 0)
                return;
            if (c == 0x09 || c == 0x0B || c == 0xA0) // tab, line break, no-break space
                paragraph += u' ';
            else if (c == 0x1E) // non-breaking hyphen
                paragraph += u'-';
            else if (c >= 0x20) // below: pictures, objects, note marks, optional hyphens
                paragraph += QChar(c);
            if (paragraph.size() > m_limits.maxChars)
                throw ExtractError::tooLarge();
        });
        endLine(to);
    }

    Stream m_word;
    Stream m_table;
    const Limits m_limits;
    qint64 m_ccpText = 0;
    std::vector<Piece> m_pieces;
    std::vector<Note> m_notes;
    std::vector<qint64> m_pageFcs;
    std::vector<quint32> m_pages;
    quint32 m_cachedPage = 0xFFFFFFFF;
    std::vector<Run> m_runs;
    std::vector<Paragraph> m_styles; // by istd
    Lists m_lists;
};

} // namespace

std::optional<QString> docToText(QByteArrayView bytes, const Limits &limits) {
    try {
        const CompoundFile file(bytes);
        std::optional<Stream> word = file.stream(u"WordDocument");
        if (!word)
            return std::nullopt;
        WordDocument document(file, *word, limits);
        return document.text();
    } catch (const NotHandled &) {
        return std::nullopt;
    }
}

} // namespace extract
