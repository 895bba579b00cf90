#pragma once

// Date-time values are day counts since 30 December 1899 with the time of day
// as the fraction (25569 is 1 January 1970). Unix times are whole seconds
// since 1 January 1970 UTC in a signed 32-bit number. Local time uses the
// time-zone offset in force at the instant being converted (daylight time
// included), not the offset of the moment the program started.

#include <cstdint>

#include "platform/WinTypes.h"

inline constexpr double kUnixEpochDateTime = 25569.0;

// A UTC file time to local date-time through the DOS date and time (2-second
// resolution, years 1980 to 2107); 0 when it falls outside.
double FileTimeToDateTime(platform::FILETIME fileTime);
double UnixTimeToDateTime(std::int32_t seconds);
// Rounded to the nearest second (halves to even); clamped to the 32-bit range.
std::int32_t DateTimeToUnixTime(double value);
