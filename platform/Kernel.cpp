#include "platform/Kernel.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>

#include "platform/KernelObjects.h"
#include "platform/Text.h"

namespace platform {

namespace {

thread_local DWORD tLastError = 0;

std::atomic<bool> gWow64{true};

// Handle numbers for every kind of object (keys, events, tokens) come from
// one counter, so a number never means two objects, and a closed number is
// never given out again in this process: a stale handle then fails cleanly
// instead of reaching someone else's object.
std::atomic<std::uintptr_t> gNextHandle{0x1000};

constexpr std::uintptr_t kCurrentProcess = std::uintptr_t(-1);

struct EventObject {
  std::mutex mutex;
  std::condition_variable cv;
  bool manualReset = false;
  bool signalled = false;
  std::u16string name;
};

struct EventTable {
  std::mutex mutex;
  std::map<std::uintptr_t, std::shared_ptr<EventObject>> handles;
  std::map<std::u16string, std::weak_ptr<EventObject>> named;
};

EventTable& events() {
  static EventTable* table = new EventTable;  // lives to the very end: handles may be closed during exit
  return *table;
}

std::shared_ptr<EventObject> findEvent(HANDLE h) {
  EventTable& t = events();
  std::lock_guard lock(t.mutex);
  auto it = t.handles.find(h.value);
  return it == t.handles.end() ? nullptr : it->second;
}

HANDLE createEvent(bool manualReset, bool initialState, std::u16string name) {
  EventTable& t = events();
  std::lock_guard lock(t.mutex);
  std::shared_ptr<EventObject> ev;
  bool existed = false;
  if (!name.empty()) {
    auto it = t.named.find(name);
    if (it != t.named.end()) ev = it->second.lock();
    existed = bool(ev);
  }
  if (!ev) {
    ev = std::make_shared<EventObject>();
    ev->manualReset = manualReset;
    ev->signalled = initialState;
    ev->name = name;
    if (!name.empty()) t.named[name] = ev;
  }
  HANDLE h(kernel::allocateHandleValue());
  t.handles[h.value] = ev;
  SetLastError(existed ? DWORD(ERROR_ALREADY_EXISTS) : 0);
  return h;
}

}  // namespace

namespace kernel {

std::uintptr_t allocateHandleValue() {
  for (;;) {
    std::uintptr_t v = gNextHandle.fetch_add(4);
    // The predefined registry roots live at 0x80000000..0x80000006.
    if (v >= 0x80000000u && v <= 0x800000FFu) continue;
    if (v == kCurrentProcess) continue;
    return v;
  }
}

std::shared_ptr<void> retainEvent(HANDLE event) { return findEvent(event); }

void signalRetainedEvent(const std::shared_ptr<void>& event) {
  if (!event) return;
  auto ev = std::static_pointer_cast<EventObject>(event);
  {
    std::lock_guard lock(ev->mutex);
    ev->signalled = true;
  }
  ev->cv.notify_all();
}

}  // namespace kernel

DWORD GetLastError() { return tLastError; }
void SetLastError(DWORD code) { tLastError = code; }

HANDLE CreateEventA(const SECURITY_ATTRIBUTES*, bool manualReset, bool initialState, LPCSTR name) {
  return createEvent(manualReset, initialState, name ? ansiToWide(name) : std::u16string());
}

HANDLE CreateEventW(const SECURITY_ATTRIBUTES*, bool manualReset, bool initialState, LPCWSTR name) {
  return createEvent(manualReset, initialState, name ? std::u16string(name) : std::u16string());
}

bool SetEvent(HANDLE event) {
  auto ev = findEvent(event);
  if (!ev) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  {
    std::lock_guard lock(ev->mutex);
    ev->signalled = true;
  }
  ev->cv.notify_all();
  return true;
}

bool ResetEvent(HANDLE event) {
  auto ev = findEvent(event);
  if (!ev) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  std::lock_guard lock(ev->mutex);
  ev->signalled = false;
  return true;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  auto ev = findEvent(handle);
  if (!ev) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  std::unique_lock lock(ev->mutex);
  auto ready = [&] { return ev->signalled; };
  if (milliseconds == INFINITE) {
    ev->cv.wait(lock, ready);
  } else if (!ev->cv.wait_for(lock, std::chrono::milliseconds(milliseconds), ready)) {
    return WAIT_TIMEOUT;
  }
  if (!ev->manualReset) ev->signalled = false;
  return WAIT_OBJECT_0;
}

bool CloseHandle(HANDLE handle) {
  if (handle.value == kCurrentProcess) return true;
  {
    EventTable& t = events();
    std::lock_guard lock(t.mutex);
    auto it = t.handles.find(handle.value);
    if (it != t.handles.end()) {
      std::u16string name = it->second->name;
      t.handles.erase(it);
      if (!name.empty()) {
        auto n = t.named.find(name);
        if (n != t.named.end() && n->second.expired()) t.named.erase(n);
      }
      return true;
    }
  }
  if (kernel::closeTokenHandle(handle)) return true;
  if (kernel::closeKeyHandle(handle)) return true;
  SetLastError(ERROR_INVALID_HANDLE);
  return false;
}

HANDLE GetCurrentProcess() { return HANDLE(kCurrentProcess); }

bool IsWow64Process(HANDLE process, bool* wow64) {
  if (process.value != kCurrentProcess || !wow64) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  *wow64 = gWow64.load();
  return true;
}

void setWow64ForTests(bool wow64) { gWow64 = wow64; }

}  // namespace platform
