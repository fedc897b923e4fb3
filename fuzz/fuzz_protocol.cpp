// The protocol reader on a byte stream, as each process reads the other's pipe: the window
// reads the worker's replies, the worker reads the window's requests (PARLIVO_FUZZ_REQUESTS).
// The stream arrives in pieces of any size. Whatever decodes must encode back to exactly the
// frame it came from, so decode(encode(x)) gives x again; whatever does not decode is refused
// with a ProtocolError, never a crash, an overread or an allocation beyond the frame.
#include "Protocol.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace proto = parlivo::proto;

namespace {

void check(bool ok) {
    if (!ok)
        std::abort();
}

#if PARLIVO_FUZZ_REQUESTS
constexpr std::uint8_t kTypes[] = {1, 2, 3, 4};
#else
constexpr std::uint8_t kTypes[] = {64, 65, 66, 67, 68, 69};
#endif

std::uint32_t lengthAt(const std::string &s, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v |= static_cast<std::uint32_t>(
                 static_cast<std::uint8_t>(s[at + static_cast<std::size_t>(i)]))
             << (8 * i);
    return v;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size < 1)
        return 0;
    const std::size_t piece = 1 + data[0] % 97;
    std::string stream(reinterpret_cast<const char *>(data + 1), size - 1);

    // Most type bytes are steered to this direction's messages; 0xF0 and above stay as they
    // are, so unknown types and the other direction's messages still come along.
    for (std::size_t at = 0; at + 5 <= stream.size();) {
        auto &type = reinterpret_cast<std::uint8_t &>(stream[at + 4]);
        if (type < 0xF0)
            type = kTypes[type % std::size(kTypes)];
        const std::uint32_t length = lengthAt(stream, at);
        if (length == 0 || length > stream.size())
            break;
        at += 4 + length;
    }

    proto::FrameReader reader;
    std::size_t fed = 0;
    std::size_t consumed = 0; // where the next frame starts in `stream`
    try {
        while (fed < stream.size()) {
            const std::size_t n = std::min(piece, stream.size() - fed);
            reader.feed({reinterpret_cast<const std::uint8_t *>(stream.data()) + fed, n});
            fed += n;
            while (auto message = reader.next()) {
                const std::uint32_t length = lengthAt(stream, consumed);
                check(length >= 1 && length <= proto::kMaxFrame);
                const std::string frame = stream.substr(consumed, 4 + std::size_t(length));
                consumed += frame.size();
                check(consumed <= fed);
                check(proto::encode(*message) == frame);
            }
            check(reader.buffered() == fed - consumed);
        }
    } catch (const proto::ProtocolError &) {
        // The stream is refused; the reader of either side ends the connection here.
    }
    return 0;
}
