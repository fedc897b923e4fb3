#pragma once
// Whether the sound server still listens at its address. A stream that has stopped being played
// may belong to a server that has gone (which Qt 6.4 does not always report) or to one that is
// only busy or stopped for a moment, which will play it again; only the first loses the stream.

namespace speech {

enum class SoundServer {
    Listening, // something accepts connections at the address (it may still be busy)
    Gone,      // nothing does: the server has died
    Unknown,   // the address is not a local socket (e.g. a network server)
};

// Looks where libpulse looks: $PULSE_SERVER, else $PULSE_RUNTIME_PATH/native, else
// $XDG_RUNTIME_DIR/pulse/native. Does not block.
SoundServer probeSoundServer();

} // namespace speech
