#pragma once
// Blocking writes on a pipe, shared by both ends of the worker protocol.

#include <string_view>

namespace parlivo::proto {

// Writes all of `bytes`, retrying after signals. False once the other end is gone.
bool writeAll(int fd, std::string_view bytes);

} // namespace parlivo::proto
