#pragma once
// Speech speed in words per minute: the range the user can choose from and where it starts.
// Plain constants, so that the synthesis worker can share them without linking Qt.

namespace parlivo {

inline constexpr int kMinWpm = 50;
inline constexpr int kMaxWpm = 510;
// espeak-ng's own default rate, which is also what a request with speed 0 is spoken at.
inline constexpr int kDefaultWpm = 175;

} // namespace parlivo
