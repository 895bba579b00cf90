#pragma once

#include <cstdint>
#include <string>

namespace platform {

// The English text Windows shows for a system error code, e.g. 2 -> "The system
// cannot find the file specified." Unknown codes give an empty string.
std::string systemErrorText(std::uint32_t code);

}  // namespace platform
