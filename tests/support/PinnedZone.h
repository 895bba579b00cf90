#pragma once

// Pins the TZ environment variable for the lifetime of the object, so local
// times come out the same on every machine, and restores it afterwards.

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace testsupport {

class PinnedZone {
public:
  explicit PinnedZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) previous_ = old;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~PinnedZone() {
    if (previous_) ::setenv("TZ", previous_->c_str(), 1);
    else ::unsetenv("TZ");
    ::tzset();
  }
  PinnedZone(const PinnedZone&) = delete;
  PinnedZone& operator=(const PinnedZone&) = delete;

private:
  std::optional<std::string> previous_;
};

}  // namespace testsupport
