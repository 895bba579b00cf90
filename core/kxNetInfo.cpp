#include "core/kxNetInfo.h"

#include <pwd.h>

#include <mutex>

bool GetLocalUserNames(std::vector<std::string>* list) {
  std::vector<std::string> own;
  std::vector<std::string>& target = list ? *list : own;
  try {
    // The enumeration has one cursor per process.
    static std::mutex lock;
    std::lock_guard<std::mutex> guard(lock);
    setpwent();
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* result = nullptr;
    for (int guardCount = 0; guardCount < 1000000; ++guardCount) {
      const int rc = getpwent_r(&entry, buffer.data(), buffer.size(), &result);
      if (rc == ERANGE && buffer.size() < (1u << 20)) {
        buffer.resize(buffer.size() * 2);
        continue;
      }
      if (rc != 0 || result == nullptr) break;
      target.emplace_back(result->pw_name);
    }
    endpwent();
    return true;
  } catch (...) {
    return false;
  }
}
