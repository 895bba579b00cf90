#pragma once

// Waiting for something another thread or process does. Tests run beside
// other heavy work, so they wait for the event itself, with a bound that only
// a hung test ever reaches, and never assert that it came quickly.

#include <chrono>
#include <cstddef>
#include <functional>

namespace testsupport {

// The bound for a wait that must end: long enough for a machine busy with
// other work; a passing test never waits this long.
inline constexpr std::chrono::milliseconds kPatience = std::chrono::seconds(60);

// Calls `done` until it holds or `limit` passes, sleeping briefly between
// calls; the last result of `done`.
bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = kPatience);

// Reads exactly `size` bytes from `fd` (a pipe), waiting at most `limit` in
// all. False on time-out, end of file or error.
bool readFully(int fd, void* data, std::size_t size, std::chrono::milliseconds limit = kPatience);

}  // namespace testsupport
