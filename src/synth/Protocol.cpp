#include "Protocol.h"

#include <bit>
#include <cstring>

namespace parlivo::proto {
namespace {

class Out {
public:
    explicit Out(Type type) {
        m_bytes.resize(4);
        u8(static_cast<std::uint8_t>(type));
    }
    void u8(std::uint8_t v) { m_bytes.push_back(static_cast<char>(v)); }
    void u16(std::uint16_t v) {
        for (int i = 0; i < 2; ++i)
            u8(static_cast<std::uint8_t>(v >> (8 * i)));
    }
    void u32(std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            u8(static_cast<std::uint8_t>(v >> (8 * i)));
    }
    void u64(std::uint64_t v) {
        for (int i = 0; i < 8; ++i)
            u8(static_cast<std::uint8_t>(v >> (8 * i)));
    }
    void str(const std::string &s) {
        u32(static_cast<std::uint32_t>(s.size()));
        m_bytes += s;
    }
    // The rest of the frame: no length needed.
    void restU16(const std::u16string &s) {
        const std::size_t at = m_bytes.size();
        m_bytes.resize(at + s.size() * 2);
        for (std::size_t i = 0; i < s.size(); ++i) {
            m_bytes[at + 2 * i] = static_cast<char>(s[i] & 0xff);
            m_bytes[at + 2 * i + 1] = static_cast<char>(s[i] >> 8);
        }
    }
    void restI16(const std::vector<std::int16_t> &s) {
        // Audio is most of what crosses the pipe: copy it whole where the layout is already ours,
        // into a frame that grows once.
        if constexpr (std::endian::native == std::endian::little) {
            m_bytes.reserve(m_bytes.size() + s.size() * 2);
            m_bytes.append(reinterpret_cast<const char *>(s.data()), s.size() * 2);
            return;
        }
        const std::size_t at = m_bytes.size();
        m_bytes.resize(at + s.size() * 2);
        for (std::size_t i = 0; i < s.size(); ++i) {
            const auto v = static_cast<std::uint16_t>(s[i]);
            m_bytes[at + 2 * i] = static_cast<char>(v & 0xff);
            m_bytes[at + 2 * i + 1] = static_cast<char>(v >> 8);
        }
    }
    std::string finish() {
        const std::size_t length = m_bytes.size() - 4;
        if (length > kMaxFrame)
            throw ProtocolError("message too large to send");
        for (int i = 0; i < 4; ++i)
            m_bytes[static_cast<std::size_t>(i)] = static_cast<char>(length >> (8 * i));
        return std::move(m_bytes);
    }

private:
    std::string m_bytes;
};

class In {
public:
    explicit In(std::span<const std::uint8_t> bytes)
        : m_bytes(bytes) {}
    std::uint8_t u8() { return take(1)[0]; }
    std::uint16_t u16() { return static_cast<std::uint16_t>(le(take(2))); }
    std::uint32_t u32() { return static_cast<std::uint32_t>(le(take(4))); }
    std::uint64_t u64() { return le(take(8)); }
    bool flag() {
        const std::uint8_t v = u8();
        if (v > 1)
            throw ProtocolError("bad flag");
        return v == 1;
    }
    std::string str() {
        const std::uint32_t n = u32();
        const auto bytes = take(n);
        return std::string(reinterpret_cast<const char *>(bytes.data()), bytes.size());
    }
    std::u16string restU16() {
        const auto bytes = rest(2);
        std::u16string s(bytes.size() / 2, u'\0');
        for (std::size_t i = 0; i < s.size(); ++i)
            s[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
        return s;
    }
    std::vector<std::int16_t> restI16() {
        const auto bytes = rest(2);
        std::vector<std::int16_t> s(bytes.size() / 2);
        if constexpr (std::endian::native == std::endian::little) {
            if (!s.empty())
                std::memcpy(s.data(), bytes.data(), s.size() * 2);
            return s;
        }
        for (std::size_t i = 0; i < s.size(); ++i)
            s[i] = static_cast<std::int16_t>(
                static_cast<std::uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8)));
        return s;
    }
    void end() const {
        if (m_at != m_bytes.size())
            throw ProtocolError("trailing bytes in message");
    }
    std::size_t left() const { return m_bytes.size() - m_at; }

private:
    std::span<const std::uint8_t> take(std::size_t n) {
        if (n > left())
            throw ProtocolError("message truncated");
        auto part = m_bytes.subspan(m_at, n);
        m_at += n;
        return part;
    }
    std::span<const std::uint8_t> rest(std::size_t unit) {
        if (left() % unit != 0)
            throw ProtocolError("odd number of bytes in 16-bit data");
        return take(left());
    }
    static std::uint64_t le(std::span<const std::uint8_t> b) {
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < b.size(); ++i)
            v |= static_cast<std::uint64_t>(b[i]) << (8 * i);
        return v;
    }

    std::span<const std::uint8_t> m_bytes;
    std::size_t m_at = 0;
};

struct Encoder {
    std::string operator()(const Speak &m) const {
        Out o(Type::Speak);
        o.u64(m.id);
        o.u32(m.wpm);
        o.u32(m.baseOffset);
        o.u8(m.final ? 1 : 0);
        o.u8(m.batch ? 1 : 0);
        o.str(m.voice);
        o.restU16(m.text);
        return o.finish();
    }
    std::string operator()(const SpeakMore &m) const {
        Out o(Type::SpeakMore);
        o.u64(m.id);
        o.u8(m.final ? 1 : 0);
        o.restU16(m.text);
        return o.finish();
    }
    std::string operator()(const Cancel &m) const {
        Out o(Type::Cancel);
        o.u64(m.id);
        return o.finish();
    }
    std::string operator()(const ListVoices &) const { return Out(Type::ListVoices).finish(); }
    std::string operator()(const Ready &m) const {
        Out o(Type::Ready);
        o.u32(m.version);
        return o.finish();
    }
    std::string operator()(const Audio &m) const {
        Out o(Type::Audio);
        o.u64(m.id);
        o.u32(m.sampleRate);
        o.u64(m.firstSample);
        o.u32(static_cast<std::uint32_t>(m.marks.size()));
        for (const WordMark &w : m.marks) {
            o.u64(w.sample);
            o.u32(w.offset);
            o.u32(w.length);
        }
        o.restI16(m.samples);
        return o.finish();
    }
    std::string operator()(const Sentence &m) const {
        Out o(Type::Sentence);
        o.u64(m.id);
        o.u64(m.sample);
        o.u32(m.offset);
        o.u32(m.length);
        o.str(m.language);
        return o.finish();
    }
    std::string operator()(const Done &m) const {
        Out o(Type::Done);
        o.u64(m.id);
        o.u64(m.totalSamples);
        return o.finish();
    }
    std::string operator()(const Error &m) const {
        Out o(Type::Error);
        o.u64(m.id);
        o.u32(m.code);
        o.str(m.message);
        return o.finish();
    }
    std::string operator()(const Voices &m) const {
        Out o(Type::Voices);
        o.u32(static_cast<std::uint32_t>(m.voices.size()));
        for (const VoiceInfo &v : m.voices) {
            o.str(v.id);
            o.str(v.name);
            o.str(v.language);
            o.str(v.engine);
            o.u32(v.sampleRate);
        }
        return o.finish();
    }
};

} // namespace

std::string encode(const Message &message) {
    return std::visit(Encoder{}, message);
}

Message decode(std::span<const std::uint8_t> body) {
    In in(body);
    const auto type = static_cast<Type>(in.u8());
    Message result;
    switch (type) {
    case Type::Speak: {
        Speak m;
        m.id = in.u64();
        m.wpm = in.u32();
        m.baseOffset = in.u32();
        m.final = in.flag();
        m.batch = in.flag();
        m.voice = in.str();
        m.text = in.restU16();
        result = std::move(m);
        break;
    }
    case Type::SpeakMore: {
        SpeakMore m;
        m.id = in.u64();
        m.final = in.flag();
        m.text = in.restU16();
        result = std::move(m);
        break;
    }
    case Type::Cancel:
        result = Cancel{in.u64()};
        break;
    case Type::ListVoices:
        result = ListVoices{};
        break;
    case Type::Ready:
        result = Ready{in.u32()};
        break;
    case Type::Audio: {
        Audio m;
        m.id = in.u64();
        m.sampleRate = in.u32();
        m.firstSample = in.u64();
        const std::uint32_t count = in.u32();
        if (count > in.left() / 16)
            throw ProtocolError("mark count larger than the message");
        m.marks.resize(count);
        for (WordMark &w : m.marks) {
            w.sample = in.u64();
            w.offset = in.u32();
            w.length = in.u32();
        }
        m.samples = in.restI16();
        result = std::move(m);
        break;
    }
    case Type::Sentence: {
        Sentence m;
        m.id = in.u64();
        m.sample = in.u64();
        m.offset = in.u32();
        m.length = in.u32();
        m.language = in.str();
        result = std::move(m);
        break;
    }
    case Type::Done: {
        Done m;
        m.id = in.u64();
        m.totalSamples = in.u64();
        result = m;
        break;
    }
    case Type::Error: {
        Error m;
        m.id = in.u64();
        m.code = in.u32();
        m.message = in.str();
        result = std::move(m);
        break;
    }
    case Type::Voices: {
        Voices m;
        const std::uint32_t count = in.u32();
        // Each voice takes at least four empty strings' lengths and its rate.
        if (count > in.left() / 20)
            throw ProtocolError("voice count larger than the message");
        m.voices.resize(count);
        for (VoiceInfo &v : m.voices) {
            v.id = in.str();
            v.name = in.str();
            v.language = in.str();
            v.engine = in.str();
            v.sampleRate = in.u32();
        }
        result = std::move(m);
        break;
    }
    default:
        throw ProtocolError("unknown message type");
    }
    in.end();
    return result;
}

void FrameReader::feed(std::span<const std::uint8_t> bytes) {
    // Drop what was consumed before growing, so the buffer stays about one frame long.
    if (m_start > 0 && m_start >= m_buffer.size() / 2) {
        m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<std::ptrdiff_t>(m_start));
        m_start = 0;
    }
    m_buffer.insert(m_buffer.end(), bytes.begin(), bytes.end());
}

std::optional<Message> FrameReader::next() {
    if (buffered() < 4)
        return std::nullopt;
    const std::uint8_t *p = m_buffer.data() + m_start;
    const std::uint32_t length =
        static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
        (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
    if (length < 1 || length > kMaxFrame)
        throw ProtocolError("bad frame length");
    if (buffered() < 4 + static_cast<std::size_t>(length))
        return std::nullopt;
    std::span<const std::uint8_t> body(p + 4, length);
    m_start += 4 + length;
    return decode(body);
}

} // namespace parlivo::proto
