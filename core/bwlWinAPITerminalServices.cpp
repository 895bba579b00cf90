#include "core/bwlWinAPITerminalServices.h"

#include <utmpx.h>

#include <mutex>

namespace {

std::mutex gMutex;  // the utmp reading calls keep their position in the process
std::function<unsigned()> gCounter;

unsigned countLoginSessions() {
  unsigned count = 0;
  ::setutxent();
  while (const utmpx* entry = ::getutxent())
    if (entry->ut_type == USER_PROCESS) ++count;
  ::endutxent();
  return count;
}

}  // namespace

unsigned GetTerminalSessionCount() {
  std::lock_guard lock(gMutex);
  try {
    return gCounter ? gCounter() : countLoginSessions();
  } catch (...) {
    return 0;
  }
}

void SetTerminalSessionCounter(std::function<unsigned()> counter) {
  std::lock_guard lock(gMutex);
  gCounter = std::move(counter);
}
