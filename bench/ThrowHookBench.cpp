// The raise hook's price: the same exception thrown 20 frames below its catch,
// once through the hook (a plain `throw`, which this program's hook takes)
// and once handed straight to the run-time's own __cxa_throw. The rounds of
// the two alternate, so that both see the same machine; the medians are
// compared.

#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <typeinfo>
#include <vector>

#include "crashreport/zebExceptRaiseHook.h"

extern "C" void* __cxa_allocate_exception(std::size_t size) noexcept;

namespace {

using ThrowFunction = void (*)(void*, void*, void (*)(void*));
ThrowFunction plainThrow = nullptr;
volatile int sink = 0;

__attribute__((noinline)) void Down(int depth, bool hooked) {
  if (depth == 0) {
    if (hooked) throw 7;
    void* object = __cxa_allocate_exception(sizeof(int));
    *static_cast<int*>(object) = 7;
    plainThrow(object, const_cast<std::type_info*>(&typeid(int)), nullptr);
  }
  Down(depth - 1, hooked);
  sink = sink + depth;  // no tail call: every frame stays on the stack
}

double NanosecondsPerThrow(bool hooked, int throws) {
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < throws; ++i) {
    try {
      Down(20, hooked);
    } catch (int) {
    }
  }
  const std::chrono::duration<double, std::nano> took = std::chrono::steady_clock::now() - start;
  return took.count() / throws;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  zeb::LinkRaiseHook();
  plainThrow = reinterpret_cast<ThrowFunction>(::dlsym(RTLD_NEXT, "__cxa_throw"));
  if (!plainThrow) {
    std::fprintf(stderr, "the run-time's __cxa_throw was not found\n");
    return 2;
  }
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
  constexpr int kThrows = 20000;
  NanosecondsPerThrow(false, kThrows / 10);  // warm-up
  NanosecondsPerThrow(true, kThrows / 10);
  std::vector<double> plain, hooked;
  for (int r = 0; r < rounds; ++r) {
    plain.push_back(NanosecondsPerThrow(false, kThrows));
    hooked.push_back(NanosecondsPerThrow(true, kThrows));
  }
  const double p = Median(plain), h = Median(hooked);
  std::printf("throw caught 20 frames up: plain %.0f ns, through the hook %.0f ns, ratio %.2f (goal: at most 2)\n", p,
              h, h / p);
  return h / p <= 2.0 ? 0 : 1;
}
