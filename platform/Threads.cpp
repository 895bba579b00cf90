#include "platform/Threads.h"

#include <dirent.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace platform {

namespace {

struct Registry {
  // Writers wait; readers during a crash wait a bounded time, so that a
  // thread that died while holding the lock cannot hang a report.
  std::timed_mutex lock;
  std::vector<ThreadEntry> entries;  // newest first
};

// Never destroyed: threads that global objects stop while the program ends
// still leave the registry then.
Registry& registry() {
  static Registry& r = *new Registry;
  return r;
}

bool ThreadRuns(pid_t threadId) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/self/task/%d", int(threadId));
  return ::access(path, F_OK) == 0;
}

std::string Hex(pid_t id) {
  char text[24];
  std::snprintf(text, sizeof text, "$%x", unsigned(id));
  return text;
}

std::atomic<const ThreadHooks*> installedHooks{nullptr};

}  // namespace

pid_t CurrentThreadId() { return pid_t(::syscall(SYS_gettid)); }

void RegisterThread(pid_t threadId, std::string_view name, pid_t creatorThreadId, std::uintptr_t creatorAddress,
                    std::string_view className) {
  Registry& r = registry();
  std::lock_guard lock(r.lock);
  const bool keep = !name.empty() || creatorAddress != 0;
  ThreadEntry entry;
  entry.threadId = threadId;
  auto old = std::find_if(r.entries.begin(), r.entries.end(), [&](const ThreadEntry& e) { return e.threadId == threadId; });
  if (old != r.entries.end()) {
    entry = *old;
    r.entries.erase(old);
  }
  if (keep && ThreadRuns(threadId)) {
    if (!name.empty()) entry.name = std::string(name);
    if (!className.empty()) entry.className = std::string(className);
    if (creatorAddress != 0) {
      entry.creatorAddress = creatorAddress;
      entry.creatorThreadId = creatorThreadId;
    }
    r.entries.insert(r.entries.begin(), std::move(entry));
  }
  // One stale entry a call keeps the list short without a scan of all.
  auto stale = std::find_if(r.entries.begin(), r.entries.end(), [](const ThreadEntry& e) { return !ThreadRuns(e.threadId); });
  if (stale != r.entries.end()) r.entries.erase(stale);
}

void UnregisterThread(pid_t threadId) { RegisterThread(threadId, {}); }

void SetThreadName(pid_t threadId, std::string_view name) {
  RegisterThread(threadId, name);
  if (threadId == CurrentThreadId() && !name.empty()) {
    std::string shortName(name.substr(0, 15));
    ::pthread_setname_np(::pthread_self(), shortName.c_str());
  }
}

std::optional<ThreadEntry> FindThread(pid_t threadId, std::chrono::milliseconds wait) {
  Registry& r = registry();
  std::unique_lock lock(r.lock, std::defer_lock);
  if (!lock.try_lock_for(wait)) return std::nullopt;
  for (const ThreadEntry& e : r.entries)
    if (e.threadId == threadId) return e;
  return std::nullopt;
}

bool IsReporterThreadName(std::string_view name) {
  return name == "-" || name == "AntiFreezeThread" || name == "HandleExceptionThread";
}

std::string ThreadTitle(pid_t threadId, bool forceShow, std::uintptr_t* creatorAddress, pid_t* creatorThreadId) {
  if (creatorAddress) *creatorAddress = 0;
  if (creatorThreadId) *creatorThreadId = 0;
  const std::optional<ThreadEntry> entry = FindThread(threadId);
  if (!entry) return "thread " + Hex(threadId);
  if (creatorAddress) *creatorAddress = entry->creatorAddress;
  if (creatorThreadId) *creatorThreadId = entry->creatorThreadId;
  if (!forceShow && IsReporterThreadName(entry->name)) return {};
  if (!entry->name.empty() && entry->name != "-") return entry->name + " (" + Hex(threadId) + ")";
  std::string title = "thread " + Hex(threadId);
  if (!entry->className.empty()) title += " (" + entry->className + ")";
  return title;
}

std::vector<pid_t> ListProcessThreads() {
  std::vector<pid_t> ids;
  DIR* dir = ::opendir("/proc/self/task");
  if (!dir) return ids;
  while (const dirent* e = ::readdir(dir)) {
    char* end = nullptr;
    const long id = std::strtol(e->d_name, &end, 10);
    if (end != e->d_name && *end == '\0' && id > 0) ids.push_back(pid_t(id));
  }
  ::closedir(dir);
  return ids;
}

void SetThreadHooks(const ThreadHooks* hooks) { installedHooks.store(hooks); }

namespace {

void RunThreadBody(const std::string& name, const std::string& className, pid_t creator, std::uintptr_t creatorAddress,
                   const std::function<void()>& body) {
  const pid_t self = CurrentThreadId();
  RegisterThread(self, name, creator, creatorAddress, className);
  if (!name.empty()) {
    const std::string shortName = name.substr(0, 15);
    ::pthread_setname_np(::pthread_self(), shortName.c_str());
  }
  const ThreadHooks* hooks = installedHooks.load();
  if (hooks && hooks->started) hooks->started();
  struct Ending {
    pid_t self;
    const ThreadHooks* hooks;
    ~Ending() {
      UnregisterThread(self);
      if (hooks && hooks->ending) hooks->ending();
    }
  } ending{self, hooks};
  try {
    body();
  } catch (const SilentAbort&) {
  } catch (...) {
    // Without the crash reporter the failure ends this thread only.
    const ThreadHooks* now = installedHooks.load();
    if (now && now->failed) now->failed(std::current_exception(), className.empty() ? 16 : 17, className);
  }
}

}  // namespace

std::thread StartThread(std::string name, std::string className, std::function<void()> body) {
  const pid_t creator = CurrentThreadId();
  const auto creatorAddress = reinterpret_cast<std::uintptr_t>(__builtin_return_address(0));
  return std::thread([name = std::move(name), className = std::move(className), creator, creatorAddress,
                      body = std::move(body)] { RunThreadBody(name, className, creator, creatorAddress, body); });
}

}  // namespace platform
