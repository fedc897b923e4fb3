#pragma once
// The little binary protocol between the window process and the synthesis worker.
//
// Every message is one frame: a 32-bit little-endian length (of what follows), one type byte,
// then the payload. Text travels as UTF-16 code units, exactly as the window holds it, so that
// every offset either side speaks of is an offset into the window's own string.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace parlivo::proto {

// A frame larger than this is refused; texts are sent in pieces well below it.
inline constexpr std::uint32_t kMaxFrame = 16u * 1024u * 1024u;
inline constexpr std::uint32_t kVersion = 4;

enum class Type : std::uint8_t {
    // window -> worker
    Speak = 1,
    SpeakMore = 2,
    Cancel = 3,
    ListVoices = 4,
    // worker -> window
    Ready = 64,
    Audio = 65,
    Sentence = 66,
    Done = 67,
    Error = 68,
    Voices = 69,
};

struct ProtocolError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Starts a request. The text may come in several pieces; `final` says this is the last.
struct Speak {
    std::uint64_t id = 0;
    std::uint32_t wpm = 0;        // 0: the synthesiser's own default
    std::uint32_t baseOffset = 0; // added to every offset reported for this request
    bool final = true;
    // Empty: the worker's default voice. "auto:" and a voice: each paragraph in the voice of its
    // own language, that voice where the language cannot be told.
    std::string voice;
    std::u16string text;
    // Nobody listens while it is made (an export to a file): audio comes in large blocks, which
    // costs far fewer pipe wake-ups than 20 ms pieces, and without word marks.
    bool batch = false;
};

struct SpeakMore {
    std::uint64_t id = 0;
    bool final = true;
    std::u16string text;
};

struct Cancel {
    std::uint64_t id = 0;
};

struct ListVoices {};

struct Ready {
    std::uint32_t version = kVersion;
};

// A word as it is heard: `sample` counts from the start of the request's audio.
struct WordMark {
    std::uint64_t sample = 0;
    std::uint32_t offset = 0; // UTF-16 units into the window's text
    std::uint32_t length = 0;
    bool operator==(const WordMark &) const = default;
};

struct Audio {
    std::uint64_t id = 0;
    std::uint32_t sampleRate = 0;
    std::uint64_t firstSample = 0;
    std::vector<WordMark> marks;
    std::vector<std::int16_t> samples;
};

struct Sentence {
    std::uint64_t id = 0;
    std::uint64_t sample = 0;
    std::uint32_t offset = 0;
    std::uint32_t length = 0;
    std::string language; // told from the text for an "auto:" voice ("fr"), else empty
};

inline constexpr std::string_view kAutomaticPrefix = "auto:";

struct Done {
    std::uint64_t id = 0;
    std::uint64_t totalSamples = 0;
};

struct Error {
    std::uint64_t id = 0;
    std::uint32_t code = 0;
    std::string message;
};

struct VoiceInfo {
    std::string id;               // what Speak::voice takes, e.g. "espeak:en-us"
    std::string name;             // shown to the user
    std::string language;         // BCP 47-ish tag, e.g. "en-us"
    std::string engine;           // "espeak-ng" or "flite"
    std::uint32_t sampleRate = 0; // of the audio this voice is spoken in
    bool operator==(const VoiceInfo &) const = default;
};

struct Voices {
    std::vector<VoiceInfo> voices;
};

using Message =
    std::variant<Speak, SpeakMore, Cancel, ListVoices, Ready, Audio, Sentence, Done, Error, Voices>;

// Whole frame (length, type, payload) for one message.
std::string encode(const Message &message);

// Parses one frame's type byte and payload (without the length prefix).
// Throws ProtocolError on anything malformed; never reads out of bounds.
Message decode(std::span<const std::uint8_t> body);

// Splits a byte stream into frames. Feed it whatever read() returned; take frames out with
// next(). A length over kMaxFrame or below one byte is a ProtocolError: the stream is lost.
class FrameReader {
public:
    void feed(std::span<const std::uint8_t> bytes);
    std::optional<Message> next();
    std::size_t buffered() const { return m_buffer.size() - m_start; }

private:
    std::vector<std::uint8_t> m_buffer;
    std::size_t m_start = 0;
};

} // namespace parlivo::proto
