#include "crashreport/zebTools.h"

#include <cxxabi.h>
#include <sys/utsname.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#ifndef HIVESCOPE_PROJECT_VERSION
#define HIVESCOPE_PROJECT_VERSION "0.0.0.0"
#endif

namespace zeb {

TOS OperatingSystemFrom(std::string_view osRelease, std::string_view kernelRelease, bool is64Bit) {
  TOS os;
  os.is64BitSystem = is64Bit;
  os.buildText = std::string(kernelRelease);
  std::uint32_t* parts[] = {&os.major, &os.minor, &os.build};
  std::size_t p = 0;
  for (auto* part : parts) {
    if (p >= kernelRelease.size() || kernelRelease[p] < '0' || kernelRelease[p] > '9') break;
    std::uint64_t v = 0;
    while (p < kernelRelease.size() && kernelRelease[p] >= '0' && kernelRelease[p] <= '9') {
      v = std::min<std::uint64_t>(v * 10 + std::uint64_t(kernelRelease[p] - '0'), 0xFFFFFFFF);
      ++p;
    }
    *part = std::uint32_t(v);
    if (p < kernelRelease.size() && kernelRelease[p] == '.') ++p;
    else break;
  }
  while (!osRelease.empty()) {
    const std::size_t eol = osRelease.find('\n');
    std::string_view line = osRelease.substr(0, eol);
    osRelease = eol == std::string_view::npos ? std::string_view() : osRelease.substr(eol + 1);
    if (!line.starts_with("PRETTY_NAME=")) continue;
    line.remove_prefix(12);
    if (line.size() >= 2 && (line.front() == '"' || line.front() == '\'') && line.back() == line.front())
      line = line.substr(1, line.size() - 2);
    os.description = std::string(line);
  }
  if (os.description.empty()) os.description = "Linux";
  return os;
}

TOS OperatingSystem() {
  static const auto& os = *new TOS([] {
    std::ifstream in("/etc/os-release");
    if (!in) in.open("/usr/lib/os-release");
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    utsname names{};
    const bool ok = uname(&names) == 0;
    return OperatingSystemFrom(text, ok ? names.release : "", sizeof(void*) == 8);
  }());
  return os;
}

std::uint64_t FileVersion() {
  std::uint64_t version = 0;
  std::string_view text = HIVESCOPE_PROJECT_VERSION;
  for (int i = 0; i < 4; ++i) {
    std::uint64_t part = 0;
    while (!text.empty() && text.front() >= '0' && text.front() <= '9') {
      part = std::min<std::uint64_t>(part * 10 + std::uint64_t(text.front() - '0'), 0xFFFF);
      text.remove_prefix(1);
    }
    if (!text.empty() && text.front() == '.') text.remove_prefix(1);
    version = version << 16 | part;
  }
  return version;
}

std::string FileVersionText(std::uint64_t version) {
  return std::to_string(version >> 48) + "." + std::to_string((version >> 32) & 0xFFFF) + "." +
         std::to_string((version >> 16) & 0xFFFF) + "." + std::to_string(version & 0xFFFF);
}

std::uint32_t TickCount() {
  return std::uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now().time_since_epoch())
                           .count());
}

std::uint32_t ElapsedTicks(std::uint32_t startTick, std::uint32_t now) { return now - startTick; }

bool UnmangleExportName(std::string& name, std::string& unitName) {
  if (!name.starts_with("_Z")) return false;
  int status = 0;
  std::unique_ptr<char, decltype(&std::free)> plain(abi::__cxa_demangle(name.c_str(), nullptr, nullptr, &status),
                                                    &std::free);
  if (status != 0 || !plain) return false;
  std::string text = plain.get();
  // The outermost scope of the qualified name, not counting a return type or
  // the template arguments and parameters that follow the name.
  std::size_t depth = 0, scopeEnd = std::string::npos;
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    const char c = text[i];
    if (c == '<' || c == '(') ++depth;
    else if ((c == '>' || c == ')') && depth > 0) --depth;
    else if (c == ' ' && depth == 0) break;
    else if (depth == 0 && c == ':' && text[i + 1] == ':') {
      scopeEnd = i;
      break;
    }
  }
  if (scopeEnd != std::string::npos) {
    unitName = text.substr(0, scopeEnd);
    text.erase(0, scopeEnd + 2);
  } else {
    unitName.clear();
  }
  name = text;
  return true;
}

struct MainThreadDispatcher::State {
  std::mutex mutex;
  std::thread::id mainThread;
  bool hasMainThread = false;
  std::deque<std::pair<std::uint32_t, std::function<void()>>> calls;
  std::function<void()> wakeUp;
};

MainThreadDispatcher& MainThreadDispatcher::Instance() {
  static auto& dispatcher = *new MainThreadDispatcher;
  return dispatcher;
}

MainThreadDispatcher::State& MainThreadDispatcher::state() const {
  static auto& s = *new State;
  return s;
}

void MainThreadDispatcher::SetMainThread() {
  std::lock_guard lock(state().mutex);
  state().mainThread = std::this_thread::get_id();
  state().hasMainThread = true;
}

bool MainThreadDispatcher::IsMainThread() const {
  std::lock_guard lock(state().mutex);
  return state().hasMainThread && state().mainThread == std::this_thread::get_id();
}

void MainThreadDispatcher::SetWakeUp(std::function<void()> wakeUp) {
  std::lock_guard lock(state().mutex);
  state().wakeUp = std::move(wakeUp);
}

std::uint32_t MainThreadDispatcher::Post(std::function<void()> call) {
  std::function<void()> wakeUp;
  std::uint32_t number = 1024;
  {
    std::lock_guard lock(state().mutex);
    if (!state().hasMainThread) return 0;
    std::set<std::uint32_t> used;
    for (const auto& c : state().calls) used.insert(c.first);
    while (used.count(number)) ++number;
    state().calls.emplace_back(number, std::move(call));
    wakeUp = state().wakeUp;
  }
  if (wakeUp) wakeUp();
  return number;
}

int MainThreadDispatcher::RunPendingCalls() {
  if (!IsMainThread()) return 0;
  int ran = 0;
  for (;;) {
    std::function<void()> call;
    {
      std::lock_guard lock(state().mutex);
      if (state().calls.empty()) return ran;
      call = std::move(state().calls.front().second);
      state().calls.pop_front();
    }
    // A call that throws must not take the loop down with it.
    try {
      call();
    } catch (...) {
    }
    ++ran;
  }
}

}  // namespace zeb
