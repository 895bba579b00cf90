#pragma once

#include <cstdint>
#include <string>

namespace platform {

// The English text Windows shows for a system error code, e.g. 2 -> "The system
// cannot find the file specified." Unknown codes give an empty string.
std::string systemErrorText(std::uint32_t code);

// The system error code the Win32 layer reports for a kernel status, e.g.
// STATUS_OBJECT_NAME_NOT_FOUND (0xC0000034) -> 2. A status with no mapping
// gives ERROR_MR_MID_NOT_FOUND (317), as the system does.
std::uint32_t ntStatusToWin32Error(std::uint32_t status);

// The system error code a failed file call reports for a POSIX errno, e.g.
// ENOENT -> 2, EACCES -> 5, EEXIST -> 183. An errno with no counterpart gives
// ERROR_GEN_FAILURE (31).
std::uint32_t errnoToWin32Error(int err);

}  // namespace platform
