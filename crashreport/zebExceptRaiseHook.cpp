#include "crashreport/zebExceptRaiseHook.h"

#include <dlfcn.h>
#include <unwind.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "crashreport/zebDispatch.h"

// Every C++ throw of the program passes here first: the thrown object, the
// throw address, the return addresses up from it, the registers and the top
// of the stack are kept for the thread, so that the report of an exception
// caught further up shows where it was thrown. Then the run-time's own throw
// goes on as if nothing happened.

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

// Frames further apart than this are taken for a change of stacks (a signal
// stack, say), and the copy of the stack's top ends there.
constexpr std::uintptr_t kLargestFrame = 256 * 1024;

struct Collecting {
  zeb::RaiseRecord* record;
  int skip;
  // How far up from the throwing function's rsp the stack is known to be
  // mapped: the call frame address of each frame walked, while they rise in
  // small steps.
  std::uintptr_t stackKnownTo;
  std::uintptr_t stackWanted;
  bool stackTracking;
};

_Unwind_Reason_Code CollectFrame(struct _Unwind_Context* context, void* data) {
  auto* c = static_cast<Collecting*>(data);
  if (c->skip > 0) {
    --c->skip;
    return _URC_NO_REASON;
  }
  if (c->stackTracking) {
    const std::uintptr_t cfa = std::uintptr_t(_Unwind_GetCFA(context));
    if (cfa >= c->stackKnownTo && cfa - c->stackKnownTo <= kLargestFrame) {
      c->stackKnownTo = cfa;
      if (cfa >= c->stackWanted) c->stackTracking = false;
    } else {
      c->stackTracking = false;
    }
  }
  if (c->record->count >= 64) return c->stackTracking ? _URC_NO_REASON : _URC_END_OF_STACK;
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

// The registers of the throwing function, as the throw's entry finds them.
extern "C" {
__attribute__((visibility("hidden"), used)) thread_local std::uint64_t zebRaiseRegisters[17];
}

// The throw's entry, in assembly so that the registers are those of the
// throwing function at its call, before any compiled code touches them: it
// stores them in the order of zeb::RaiseContext (rsp as it is after the
// return, rip the return address) and jumps on to the body with the throw's
// three arguments (object, std::type_info, destructor) untouched. A jump, not
// a call: the body's caller is the throwing function, so the unwinding of
// every throw walks no frame more than without the hook.
asm(R"(
  .pushsection .text
  .globl __cxa_throw
  .type __cxa_throw, @function
__cxa_throw:
  .cfi_startproc
  pushq %r11
  .cfi_adjust_cfa_offset 8
  movq zebRaiseRegisters@gottpoff(%rip), %r11
  movq %rax, %fs:0(%r11)
  movq %rdx, %fs:8(%r11)
  movq %rcx, %fs:16(%r11)
  movq %rbx, %fs:24(%r11)
  movq %rsi, %fs:32(%r11)
  movq %rdi, %fs:40(%r11)
  movq %rbp, %fs:48(%r11)
  leaq 16(%rsp), %rax
  movq %rax, %fs:56(%r11)
  movq %r8, %fs:64(%r11)
  movq %r9, %fs:72(%r11)
  movq %r10, %fs:80(%r11)
  movq (%rsp), %rax
  movq %rax, %fs:88(%r11)
  movq %r12, %fs:96(%r11)
  movq %r13, %fs:104(%r11)
  movq %r14, %fs:112(%r11)
  movq %r15, %fs:120(%r11)
  movq 8(%rsp), %rax
  movq %rax, %fs:128(%r11)
  popq %r11
  .cfi_adjust_cfa_offset -8
  jmp zebRaiseHookBody
  .cfi_endproc
  .size __cxa_throw, .-__cxa_throw
  .popsection
)");

extern "C" [[noreturn]] __attribute__((visibility("hidden"), used)) void zebRaiseHookBody(
    void* object, void* type, void (*destructor)(void*)) {
  zeb::RaiseRecord* record = zeb::CurrentRaiseRecord();
  zeb::RaiseContext& raise = record->context;
  std::memcpy(raise.registers, zebRaiseRegisters, sizeof raise.registers);
  record->object = object;
  record->address = std::uintptr_t(raise.registers[16]);
  record->count = 0;
  const std::uintptr_t sp = std::uintptr_t(raise.registers[7]);
  Collecting collecting{record, 1, sp, sp + zeb::RaiseContext::kStackBytes, true};  // the first frame is the body's own
  _Unwind_Backtrace(&CollectFrame, &collecting);
  // The top of the stack that the report's stack dump shows: only what the
  // walk saw to be one stack, never past the oldest frame.
  raise.stackSize = std::uint32_t(std::min<std::uintptr_t>(collecting.stackKnownTo - sp, zeb::RaiseContext::kStackBytes));
  std::memcpy(raise.stack, reinterpret_cast<const void*>(sp), raise.stackSize);
  raise.valid = true;
  const ThrowFunction real = RealThrow();
  if (!real) std::abort();
  real(object, type, destructor);
  __builtin_unreachable();
}

#endif

namespace zeb {

void LinkRaiseHook() {}

}  // namespace zeb
