#include "core/kxDate.h"

#include <cmath>
#include <ctime>
#include <limits>

namespace {

constexpr double kSecondsPerDay = 86400.0;
// 100 ns ticks between 1601-01-01 and 1970-01-01.
constexpr std::uint64_t kFileTimeUnixEpoch = 116444736000000000ull;

// Seconds east of UTC in force at a UTC instant.
long offsetAt(std::time_t utc) {
  std::tm local{};
  if (localtime_r(&utc, &local) == nullptr) return 0;
  return local.tm_gmtoff;
}

// Days from 1970-01-01 to a civil date (proleptic Gregorian).
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

}  // namespace

double FileTimeToDateTime(platform::FILETIME fileTime) {
  const std::uint64_t ticks = platform::fileTimeToU64(fileTime);
  // Work in whole seconds from 1601 on, so early times need no signed maths.
  const std::int64_t utcSince1601 = static_cast<std::int64_t>(ticks / 10000000ull);
  const std::int64_t unixUtc = utcSince1601 - static_cast<std::int64_t>(kFileTimeUnixEpoch / 10000000ull);
  const std::int64_t local = unixUtc + offsetAt(static_cast<std::time_t>(unixUtc));
  // Broken down as a civil date, then through the DOS date's range and
  // 2-second steps.
  const std::time_t asTime = static_cast<std::time_t>(local);
  std::tm tm{};
  if (gmtime_r(&asTime, &tm) == nullptr) return 0;
  const int year = tm.tm_year + 1900;
  if (year < 1980 || year > 2107) return 0;
  const int seconds = tm.tm_sec / 2 * 2;
  const std::int64_t days = daysFromCivil(year, static_cast<unsigned>(tm.tm_mon + 1), static_cast<unsigned>(tm.tm_mday));
  return static_cast<double>(days) + kUnixEpochDateTime +
         (tm.tm_hour * 3600 + tm.tm_min * 60 + seconds) / kSecondsPerDay;
}

double UnixTimeToDateTime(std::int32_t seconds) {
  const long offset = offsetAt(static_cast<std::time_t>(seconds));
  return seconds / kSecondsPerDay + kUnixEpochDateTime + offset / kSecondsPerDay;
}

std::int32_t DateTimeToUnixTime(double value) {
  const double localSeconds = (value - kUnixEpochDateTime) * kSecondsPerDay;
  if (!std::isfinite(localSeconds)) return 0;
  constexpr double lo = std::numeric_limits<std::int32_t>::min();
  constexpr double hi = std::numeric_limits<std::int32_t>::max();
  const double clampedLocal = std::fmax(lo - 86400.0, std::fmin(hi + 86400.0, localSeconds));
  // The offset belongs to the UTC instant, which is what we are looking for:
  // guess it from the local reading, then correct once with the guess.
  const auto guess = static_cast<std::time_t>(std::floor(clampedLocal));
  long offset = offsetAt(guess);
  offset = offsetAt(guess - offset);
  const double utc = std::nearbyint(clampedLocal - static_cast<double>(offset));
  return static_cast<std::int32_t>(std::fmax(lo, std::fmin(hi, utc)));
}
