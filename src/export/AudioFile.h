#pragma once
// The file an export writes: into a temporary file in the target's folder (nameless where the
// file system allows), renamed over the target only once it is complete. Until then the target
// is never touched. WAV is written here (so that a file past 4 GiB becomes RF64 instead of
// wrapping its sizes); the other formats are encoded by libsndfile.

#include <QString>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

struct sf_private_tag;

namespace audioexport {

enum class FileFormat { Wav, Flac, OggVorbis, Mp3 };

struct FileFormatInfo {
    FileFormat format;
    const char *suffix; // without the dot
    const char *filter; // for a file dialog
};

// Every format an export can write, the default first.
std::span<const FileFormatInfo> fileFormats();
const FileFormatInfo &formatInfo(FileFormat format);
// The format a file name's suffix asks for, if it is one of ours.
std::optional<FileFormat> formatForPath(const QString &path);

// The header of a 16-bit mono PCM WAV file of `frames` frames at `rate`, followed directly by
// the samples. A JUNK chunk holds the room an RF64 "ds64" chunk needs, so the decision between
// the two is made only when the length is known: a plain WAV file (which readers that do not know
// RF64 still read) unless its RIFF size would pass `riffLimit`, the largest a 32-bit size field
// holds.
inline constexpr std::uint64_t kRiffLimit = 0xFFFFFFFFu;
inline constexpr std::size_t kWavHeaderBytes = 80;
std::vector<unsigned char> wavHeader(int rate, std::uint64_t frames,
                                     std::uint64_t riffLimit = kRiffLimit);

class PendingAudioFile {
public:
    // Creates an empty temporary file in the target's folder. Throws ExportError (FileCreate) if
    // the folder is missing, not a folder or does not let us write.
    PendingAudioFile(QString target, FileFormat format);
    // Removes the temporary file unless commit() succeeded.
    ~PendingAudioFile();
    PendingAudioFile(const PendingAudioFile &) = delete;
    PendingAudioFile &operator=(const PendingAudioFile &) = delete;

    // Starts the encoder; the rate is only known once the synthesiser has spoken.
    void open(int sampleRate);
    bool isOpen() const { return m_sampleRate != 0; }
    int sampleRate() const { return m_sampleRate; }
    // 16-bit mono samples, after open(). Throws ExportError (FileWrite), e.g. when the disk is
    // full; the failing write may be of samples given in an earlier call.
    void write(std::span<const std::int16_t> samples);
    // Finishes the encoding, makes the data durable and renames the file over the target.
    // Opens the file at `sampleRate` first if nothing was written.
    void commit(int sampleRate);

    std::uint64_t frames() const { return m_frames; }
    // Empty while the file has no name (until commit(), where the file system allows that).
    QString temporaryPath() const { return m_tempPath; }

private:
    void closeSound();
    void flush();
    void writeBytes(const void *data, std::size_t size);
    void nameTheFile();
    QString shownPath() const;
    void finishWav();

    const QString m_target;
    const FileFormat m_format;
    QString m_tempPath;
    int m_fd = -1;
    sf_private_tag *m_sound = nullptr;
    int m_sampleRate = 0;
    std::uint64_t m_frames = 0;
    // Audio arrives in blocks of up to 1.5 s, and a sentence's last one is often short; the
    // encoder gets it in larger pieces, which saves system calls for WAV.
    std::vector<std::int16_t> m_pending;
    std::size_t m_unsentBytes = 0; // handed to the file since the disk was last asked to write
    bool m_committed = false;
};

} // namespace audioexport
