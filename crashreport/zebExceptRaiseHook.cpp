#include "crashreport/zebExceptRaiseHook.h"

#include <dlfcn.h>
#include <unwind.h>

#include <cstdint>
#include <cstdlib>

#include "crashreport/zebDispatch.h"

// Every C++ throw of the program passes here first: the thrown object, the
// throw address and the return addresses up from it are kept for the thread,
// so that the report of an exception caught further up shows where it was
// thrown. Then the run-time's own throw goes on as if nothing happened.

// AddressSanitizer has its own hook on the throw, which this one would
// replace; a sanitized build goes without the throw records.
#if defined(__SANITIZE_ADDRESS__)
#define ZEB_RAISE_HOOK 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZEB_RAISE_HOOK 0
#endif
#endif
#ifndef ZEB_RAISE_HOOK
#define ZEB_RAISE_HOOK 1
#endif

#if ZEB_RAISE_HOOK
namespace {

struct Collecting {
  zeb::RaiseRecord* record;
  int skip;
};

_Unwind_Reason_Code CollectFrame(struct _Unwind_Context* context, void* data) {
  auto* c = static_cast<Collecting*>(data);
  if (c->skip > 0) {
    --c->skip;
    return _URC_NO_REASON;
  }
  if (c->record->count >= 64) return _URC_END_OF_STACK;
  const std::uintptr_t ip = std::uintptr_t(_Unwind_GetIP(context));
  if (ip == 0) return _URC_END_OF_STACK;
  c->record->frames[c->record->count++] = ip;
  return _URC_NO_REASON;
}

using ThrowFunction = void (*)(void*, void*, void (*)(void*));

ThrowFunction RealThrow() {
  static const ThrowFunction real = reinterpret_cast<ThrowFunction>(::dlsym(RTLD_NEXT, "__cxa_throw"));
  return real;
}

}  // namespace

// The type is the run-time's std::type_info; declared as the compiler knows it.
extern "C" [[noreturn]] void __cxa_throw(void* object, void* type, void (*destructor)(void*)) {
  zeb::RaiseRecord* record = zeb::CurrentRaiseRecord();
  record->object = object;
  record->address = reinterpret_cast<std::uintptr_t>(__builtin_return_address(0));
  record->count = 0;
  Collecting collecting{record, 1};  // the first frame is this hook's own
  _Unwind_Backtrace(&CollectFrame, &collecting);
  const ThrowFunction real = RealThrow();
  if (!real) std::abort();
  real(object, type, destructor);
  __builtin_unreachable();
}

#endif

namespace zeb {

void LinkRaiseHook() {}

}  // namespace zeb
