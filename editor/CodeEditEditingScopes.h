#pragma once

// Clean-up that the editing commands and undo run however a command ends.
// A command that fails still closes its undo block and puts back the options
// it changed; a clean-up that fails while a failure is already travelling is
// dropped, so that the first one reaches the event handler that catches it.

#include <exception>
#include <utility>

#include "editor/CodeEditCore.h"

namespace codeedit {

template <class F>
class ScopeExit {
public:
  explicit ScopeExit(F Body) : FBody(std::move(Body)), FExceptions(std::uncaught_exceptions()) {}
  ~ScopeExit() noexcept(false) {
    if (std::uncaught_exceptions() > FExceptions) {
      try {
        FBody();
      } catch (...) {
      }
      return;
    }
    FBody();
  }
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;

private:
  F FBody;
  int FExceptions;
};

// Turns one option bit on for a scope (typing and tabs put the caret past
// the line end with eoScrollPastEol) and back off if it was off.
class OptionOnScope {
public:
  OptionOnScope(TCodeEditorOptions& Options, TCodeEditorOption Option)
      : FOptions(Options), FBit(OptionBit(Option)), FWasOn((Options & FBit) != 0) {
    FOptions |= FBit;
  }
  ~OptionOnScope() {
    if (!FWasOn)
      FOptions &= ~FBit;
  }
  OptionOnScope(const OptionOnScope&) = delete;
  OptionOnScope& operator=(const OptionOnScope&) = delete;

private:
  TCodeEditorOptions& FOptions;
  TCodeEditorOptions FBit;
  bool FWasOn;
};

}  // namespace codeedit
