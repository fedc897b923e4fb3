#pragma once
// A zip archive held in memory (EPUB, DOCX and ODT are zips), read with libzip under limits: a
// zip bomb must be refused before it is unpacked, not after memory runs out.

#include "ExtractError.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <memory>

struct zip;

namespace extract {

class ZipArchive {
public:
    // Limits on what the archive may unpack to. Normal documents stay under 70:1.
    static constexpr qint64 kMaxEntries = 20000;
    static constexpr qint64 kMaxTotalBytes = qint64(256) * 1024 * 1024;
    static constexpr qint64 kMaxEntryBytes = qint64(128) * 1024 * 1024;
    static constexpr qint64 kMaxRatio = 100;

    // Throws ExtractError::damaged() if `bytes` is not a zip archive, tooLarge() if it lists
    // more than kMaxEntries entries.
    explicit ZipArchive(QByteArrayView bytes);
    ~ZipArchive();
    ZipArchive(const ZipArchive &) = delete;
    ZipArchive &operator=(const ZipArchive &) = delete;

    bool contains(const QString &name) const;
    // The unpacked entry. Throws: damaged() if it is missing or broken, an Encrypted error if it
    // is encrypted, tooLarge() if it (or everything read so far) passes the limits above or
    // unpacks more than kMaxRatio times its packed size.
    QByteArray read(const QString &name);

private:
    QByteArray m_bytes; // libzip reads from this buffer, which must outlive the archive
    zip *m_zip = nullptr;
    qint64 m_unpacked = 0;
};

} // namespace extract
