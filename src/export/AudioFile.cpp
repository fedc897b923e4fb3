#include "AudioFile.h"

#include "ExportError.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

#include <sndfile.h>

#include <array>
#include <bit>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace audioexport {

namespace {

constexpr std::array<FileFormatInfo, 4> kFormats{{
    {FileFormat::Wav, "wav", "WAV audio (*.wav)"},
    {FileFormat::Flac, "flac", "FLAC audio (*.flac)"},
    {FileFormat::OggVorbis, "ogg", "Ogg Vorbis audio (*.ogg)"},
    {FileFormat::Mp3, "mp3", "MP3 audio (*.mp3)"},
}};

int sndfileFormat(FileFormat format) {
    switch (format) {
    case FileFormat::Wav:
        return SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    case FileFormat::Flac:
        return SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    case FileFormat::OggVorbis:
        return SF_FORMAT_OGG | SF_FORMAT_VORBIS;
    case FileFormat::Mp3:
        return SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
    }
    return SF_FORMAT_WAV | SF_FORMAT_PCM_16;
}

constexpr std::size_t kPendingSamples = 32768;
// The disk is asked to start writing every so often, so that the fsync of commit() has only the
// last of the data left to wait for instead of the whole file (0.2 s for an hour of audio).
constexpr std::size_t kWritebackBytes = 8 << 20;

void putBytes(std::vector<unsigned char> &out, std::size_t at, std::uint64_t value,
              std::size_t count) {
    for (std::size_t i = 0; i < count; ++i)
        out[at + i] = static_cast<unsigned char>(value >> (8 * i)); // little-endian
}

void putTag(std::vector<unsigned char> &out, std::size_t at, const char (&tag)[5]) {
    std::memcpy(out.data() + at, tag, 4);
}

QString systemError(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

QString displayPath(const QString &path) {
    return QDir::toNativeSeparators(path);
}

// A hidden name in the target's folder: the final rename stays on one file system, so it is
// atomic, and a leftover after a power cut is easy to tell from a finished export.
QString hiddenName(const QFileInfo &target) {
    return target.absolutePath() + QLatin1String("/.") + target.fileName() +
           QStringLiteral(".%1.part")
               .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
}

// Makes the rename itself survive a crash: the folder's entry must reach the disk too.
void syncFolder(const QString &folder) {
    const int fd =
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return; // the file is complete and in place; only its durability is less certain
    ::fsync(fd);
    ::close(fd);
}

} // namespace

std::span<const FileFormatInfo> fileFormats() {
    return kFormats;
}

const FileFormatInfo &formatInfo(FileFormat format) {
    for (const FileFormatInfo &info : kFormats) {
        if (info.format == format)
            return info;
    }
    return kFormats.front();
}

std::optional<FileFormat> formatForPath(const QString &path) {
    const QString suffix = QFileInfo(path).suffix();
    for (const FileFormatInfo &info : kFormats) {
        if (suffix.compare(QLatin1String(info.suffix), Qt::CaseInsensitive) == 0)
            return info.format;
    }
    return std::nullopt;
}

std::vector<unsigned char> wavHeader(int rate, std::uint64_t frames, std::uint64_t riffLimit) {
    // RIFF/RF64 header 12, JUNK or ds64 8 + 28, fmt 8 + 16, data 8.
    std::vector<unsigned char> h(kWavHeaderBytes, 0);
    const std::uint64_t dataBytes = frames * 2;
    const std::uint64_t riffBytes = kWavHeaderBytes - 8 + dataBytes;
    const bool rf64 = riffBytes > riffLimit;
    putTag(h, 0, rf64 ? "RF64" : "RIFF");
    putBytes(h, 4, rf64 ? kRiffLimit : riffBytes, 4);
    putTag(h, 8, "WAVE");
    putTag(h, 12, rf64 ? "ds64" : "JUNK");
    putBytes(h, 16, 28, 4);
    if (rf64) {
        putBytes(h, 20, riffBytes, 8);
        putBytes(h, 28, dataBytes, 8);
        putBytes(h, 36, frames, 8);
        // 44: no table of other chunk sizes
    }
    putTag(h, 48, "fmt ");
    putBytes(h, 52, 16, 4);
    putBytes(h, 56, 1, 2); // integer PCM
    putBytes(h, 58, 1, 2); // mono
    putBytes(h, 60, std::uint64_t(rate), 4);
    putBytes(h, 64, std::uint64_t(rate) * 2, 4); // bytes per second
    putBytes(h, 68, 2, 2);                       // bytes per frame
    putBytes(h, 70, 16, 2);                      // bits per sample
    putTag(h, 72, "data");
    putBytes(h, 76, rf64 ? kRiffLimit : dataBytes, 4);
    return h;
}

PendingAudioFile::PendingAudioFile(QString target, FileFormat format)
    : m_target(std::move(target))
    , m_format(format) {
    const QFileInfo info(m_target);
    const QString folder = info.absolutePath();
    // Preferably a file with no name until it is complete: then nothing is left behind whatever
    // happens meanwhile, to this process (a crash, a kill, a power cut) or to the folder (made
    // read-only, so that a named leftover could not even be removed).
    m_fd = ::open(QFile::encodeName(folder).constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (m_fd >= 0)
        return;
    // File systems without such files say so in one of these ways; any other error is the
    // folder's own, and a named file would meet it too.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
        throw ExportError(ExportError::FileCreate,
                          QStringLiteral("The folder \"%1\" does not take a new file: %2")
                              .arg(displayPath(folder), systemError(errno)));
    for (int attempt = 0; attempt < 100 && m_fd < 0; ++attempt) {
        const QString candidate = hiddenName(info);
        const int fd = ::open(QFile::encodeName(candidate).constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            m_fd = fd;
            m_tempPath = candidate;
        } else if (errno != EEXIST) {
            throw ExportError(ExportError::FileCreate,
                              QStringLiteral("The folder \"%1\" does not take a new file: %2")
                                  .arg(displayPath(folder), systemError(errno)));
        }
    }
    if (m_fd < 0)
        throw ExportError(
            ExportError::FileCreate,
            QStringLiteral("No free name for a temporary file in \"%1\"").arg(displayPath(folder)));
}

QString PendingAudioFile::shownPath() const {
    return displayPath(m_tempPath.isEmpty() ? m_target : m_tempPath);
}

void PendingAudioFile::nameTheFile() {
    // The finished file gets a hidden name first, and is then renamed over the target: linking
    // cannot replace an existing file, and a rename is atomic.
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(m_fd);
    const QFileInfo info(m_target);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString candidate = hiddenName(info);
        if (::linkat(AT_FDCWD, self.constData(), AT_FDCWD, QFile::encodeName(candidate).constData(),
                     AT_SYMLINK_FOLLOW) == 0) {
            m_tempPath = candidate;
            return;
        }
        if (errno != EEXIST)
            break;
    }
    throw ExportError(ExportError::FileWrite,
                      QStringLiteral("The finished file could not be put in \"%1\": %2")
                          .arg(displayPath(info.absolutePath()), systemError(errno)));
}

PendingAudioFile::~PendingAudioFile() {
    closeSound();
    if (m_fd >= 0)
        ::close(m_fd);
    if (!m_committed && !m_tempPath.isEmpty())
        ::unlink(QFile::encodeName(m_tempPath).constData());
}

void PendingAudioFile::open(int sampleRate) {
    if (isOpen())
        return;
    if (m_format == FileFormat::Wav) {
        // The sizes are filled in by commit(), once they are known.
        const std::vector<unsigned char> header = wavHeader(sampleRate, 0);
        writeBytes(header.data(), header.size());
        m_sampleRate = sampleRate;
        return;
    }
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = 1;
    info.format = sndfileFormat(m_format);
    // The descriptor stays ours: it is synced and closed after the encoder is done with it.
    m_sound = sf_open_fd(m_fd, SFM_WRITE, &info, SF_FALSE);
    if (!m_sound)
        throw ExportError(ExportError::FileWrite,
                          QStringLiteral("The %1 encoder refused %2 Hz mono: %3")
                              .arg(QString::fromLatin1(formatInfo(m_format).suffix).toUpper())
                              .arg(sampleRate)
                              .arg(QString::fromLocal8Bit(sf_strerror(nullptr))));
    m_sampleRate = sampleRate;
}

void PendingAudioFile::write(std::span<const std::int16_t> samples) {
    m_pending.insert(m_pending.end(), samples.begin(), samples.end());
    m_frames += samples.size();
    if (m_pending.size() >= kPendingSamples)
        flush();
}

void PendingAudioFile::writeBytes(const void *data, std::size_t size) {
    const auto *bytes = static_cast<const unsigned char *>(data);
    while (size > 0) {
        const ssize_t written = ::write(m_fd, bytes, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            throw ExportError(ExportError::FileWrite,
                              QStringLiteral("Writing \"%1\" failed: %2")
                                  .arg(shownPath(), systemError(written < 0 ? errno : ENOSPC)));
        bytes += written;
        size -= std::size_t(written);
    }
}

void PendingAudioFile::flush() {
    if (m_pending.empty())
        return;
    m_unsentBytes += m_pending.size() * sizeof(std::int16_t);
    if (m_unsentBytes >= kWritebackBytes) {
        // Only starts the writing (of what the encoder has written so far): it does not wait.
        ::sync_file_range(m_fd, 0, 0, SYNC_FILE_RANGE_WRITE);
        m_unsentBytes = 0;
    }
    if (m_format == FileFormat::Wav) {
        if constexpr (std::endian::native == std::endian::big) {
            for (std::int16_t &sample : m_pending)
                sample = std::int16_t(std::uint16_t(sample) << 8 | std::uint16_t(sample) >> 8);
        }
        writeBytes(m_pending.data(), m_pending.size() * sizeof(std::int16_t));
        m_pending.clear();
        return;
    }
    errno = 0;
    const sf_count_t count = static_cast<sf_count_t>(m_pending.size());
    const sf_count_t written = sf_write_short(m_sound, m_pending.data(), count);
    if (written != count) {
        const int error = errno;
        throw ExportError(
            ExportError::FileWrite,
            QStringLiteral("Writing \"%1\" failed: %2")
                .arg(shownPath(),
                     error ? systemError(error) : QString::fromLocal8Bit(sf_strerror(m_sound))));
    }
    m_pending.clear();
}

void PendingAudioFile::closeSound() {
    if (m_sound) {
        sf_close(m_sound); // only reached on the way out after a failure; commit checks its own
        m_sound = nullptr;
    }
}

void PendingAudioFile::finishWav() {
    const std::vector<unsigned char> header = wavHeader(m_sampleRate, m_frames);
    if (::pwrite(m_fd, header.data(), header.size(), 0) != ssize_t(header.size()))
        throw ExportError(
            ExportError::FileWrite,
            QStringLiteral("Finishing \"%1\" failed: %2").arg(shownPath(), systemError(errno)));
}

void PendingAudioFile::commit(int sampleRate) {
    open(sampleRate);
    flush();
    if (m_format == FileFormat::Wav) {
        finishWav();
    } else {
        // The FLAC and MP3 encoders start only with the first samples; without any, the file
        // would be empty and unreadable. Writing the header now makes a valid file of no
        // samples. (The Vorbis encoder has written its headers already; asking again would
        // repeat them and make the file unreadable.)
        if (m_frames == 0 && m_format != FileFormat::OggVorbis)
            sf_command(m_sound, SFC_UPDATE_HEADER_NOW, nullptr, 0);
        SNDFILE *sound = m_sound;
        m_sound = nullptr;
        errno = 0;
        const int closed = sf_close(sound);
        const int closeErrno = errno;
        if (closed != 0)
            throw ExportError(ExportError::FileWrite,
                              QStringLiteral("Finishing \"%1\" failed: %2")
                                  .arg(shownPath(), closeErrno ? systemError(closeErrno)
                                                               : QString::fromLocal8Bit(
                                                                     sf_error_number(closed))));
    }
    if (::fsync(m_fd) != 0)
        throw ExportError(
            ExportError::FileWrite,
            QStringLiteral("Writing \"%1\" failed: %2").arg(shownPath(), systemError(errno)));
    if (m_tempPath.isEmpty())
        nameTheFile();
    if (::close(std::exchange(m_fd, -1)) != 0)
        throw ExportError(
            ExportError::FileWrite,
            QStringLiteral("Writing \"%1\" failed: %2").arg(shownPath(), systemError(errno)));
    if (::rename(QFile::encodeName(m_tempPath).constData(),
                 QFile::encodeName(m_target).constData()) != 0)
        throw ExportError(ExportError::FileWrite,
                          QStringLiteral("The finished file could not replace \"%1\": %2")
                              .arg(displayPath(m_target), systemError(errno)));
    m_committed = true;
    syncFolder(QFileInfo(m_target).absolutePath());
}

} // namespace audioexport
