#include "ZipArchive.h"

#include <zip.h>

#include <memory>
#include <vector>

namespace extract {
namespace {

// Below this an entry may pack as well as it likes: a page of spaces packs 1000:1.
constexpr qint64 kRatioFreeBytes = qint64(1) * 1024 * 1024;

ExtractError encrypted() {
    return {ExtractError::Kind::Encrypted, QStringLiteral("The file is password-protected.")};
}

} // namespace

ZipArchive::ZipArchive(QByteArrayView bytes)
    : m_bytes(bytes.toByteArray()) {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t *source =
        zip_source_buffer_create(m_bytes.constData(), zip_uint64_t(m_bytes.size()), 0, &error);
    if (source)
        m_zip = zip_open_from_source(source, ZIP_RDONLY, &error);
    if (!m_zip && source)
        zip_source_free(source);
    zip_error_fini(&error);
    if (!m_zip)
        throw ExtractError::damaged();
    if (zip_get_num_entries(m_zip, 0) > kMaxEntries) {
        zip_discard(m_zip);
        m_zip = nullptr;
        throw ExtractError::tooLarge();
    }
}

ZipArchive::~ZipArchive() {
    if (m_zip)
        zip_discard(m_zip);
}

bool ZipArchive::contains(const QString &name) const {
    return zip_name_locate(m_zip, name.toUtf8().constData(), 0) >= 0;
}

QByteArray ZipArchive::read(const QString &name) {
    const QByteArray utf8 = name.toUtf8();
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat(m_zip, utf8.constData(), 0, &stat) != 0)
        throw ExtractError::damaged();
    if ((stat.valid & ZIP_STAT_ENCRYPTION_METHOD) && stat.encryption_method != ZIP_EM_NONE)
        throw encrypted();
    // The sizes the archive declares are checked first, and then what really comes out, since
    // a hostile archive can declare anything.
    const qint64 declared = (stat.valid & ZIP_STAT_SIZE) ? qint64(stat.size) : 0;
    const qint64 packed = (stat.valid & ZIP_STAT_COMP_SIZE) ? qint64(stat.comp_size) : 0;
    const auto check = [&](qint64 size) {
        if (size > kMaxEntryBytes || m_unpacked + size > kMaxTotalBytes ||
            (size > kRatioFreeBytes && size > packed * kMaxRatio))
            throw ExtractError::tooLarge();
    };
    check(declared);
    std::unique_ptr<zip_file_t, int (*)(zip_file_t *)> file(zip_fopen(m_zip, utf8.constData(), 0),
                                                            zip_fclose);
    if (!file) {
        if (zip_error_code_zip(zip_get_error(m_zip)) == ZIP_ER_NOPASSWD)
            throw encrypted();
        throw ExtractError::damaged();
    }
    QByteArray out;
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        const zip_int64_t n = zip_fread(file.get(), buffer.data(), buffer.size());
        if (n < 0)
            throw ExtractError::damaged();
        if (n == 0)
            break;
        check(out.size() + n);
        out.append(buffer.data(), qsizetype(n));
    }
    m_unpacked += out.size();
    return out;
}

} // namespace extract
