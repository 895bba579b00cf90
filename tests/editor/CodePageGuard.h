#pragma once

#include "platform/Text.h"

// Pins the process's active code page for one test and restores it after.
class CodePageGuard {
public:
  explicit CodePageGuard(unsigned codePage) : previous_(platform::activeCodePage()) {
    platform::setActiveCodePage(codePage);
  }
  ~CodePageGuard() { platform::setActiveCodePage(previous_); }
  CodePageGuard(const CodePageGuard&) = delete;
  CodePageGuard& operator=(const CodePageGuard&) = delete;

private:
  unsigned previous_;
};
