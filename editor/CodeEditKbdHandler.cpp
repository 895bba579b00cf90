#include "editor/CodeEditKbdHandler.h"

#include <algorithm>

namespace codeedit {

namespace {

// Sets the chain's guard for one run and clears it also when a handler throws.
class BusyScope {
public:
  explicit BusyScope(bool& Busy) : FBusy(Busy) { FBusy = true; }
  ~BusyScope() { FBusy = false; }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

private:
  bool& FBusy;
};

// Runs a chain's handlers, newest first, on the list as it stood when the
// run began (a handler that adds or removes handlers changes the next run),
// until Stop says so. A chain that is running does not run again.
template <class Chain, class StopFn, class... Args>
void RunChain(Chain& C, StopFn Stop, Args&... A) {
  if (C.Busy)
    return;
  BusyScope Guard(C.Busy);
  const auto Handlers = C.Handlers;
  for (auto It = Handlers.rbegin(); It != Handlers.rend(); ++It) {
    It->second(A...);
    if (Stop())
      break;
  }
}

}  // namespace

void TCodeEditKbdHandler::RemoveHandler(int Id) {
  auto Drop = [Id](auto& C) { std::erase_if(C.Handlers, [Id](const auto& H) { return H.first == Id; }); };
  Drop(FKeyDown);
  Drop(FKeyUp);
  Drop(FKeyPress);
  Drop(FMouseDown);
  Drop(FMouseUp);
  Drop(FMouseCursor);
}

void TCodeEditKbdHandler::RunKeyDownHandlers(void* Sender, std::uint16_t& Key, TShiftState Shift) {
  RunChain(FKeyDown, [&Key] { return Key == 0; }, Sender, Key, Shift);
}

void TCodeEditKbdHandler::RunKeyUpHandlers(void* Sender, std::uint16_t& Key, TShiftState Shift) {
  RunChain(FKeyUp, [&Key] { return Key == 0; }, Sender, Key, Shift);
}

void TCodeEditKbdHandler::RunKeyPressHandlers(void* Sender, char16_t& Key) {
  RunChain(FKeyPress, [&Key] { return Key == 0; }, Sender, Key);
}

void TCodeEditKbdHandler::RunMouseDownHandlers(void* Sender, TMouseButton Button, TShiftState Shift, int X, int Y) {
  RunChain(FMouseDown, [] { return false; }, Sender, Button, Shift, X, Y);
}

void TCodeEditKbdHandler::RunMouseUpHandlers(void* Sender, TMouseButton Button, TShiftState Shift, int X, int Y) {
  RunChain(FMouseUp, [] { return false; }, Sender, Button, Shift, X, Y);
}

void TCodeEditKbdHandler::RunMouseCursorHandlers(void* Sender, const TBufferCoord& Pos, int& Cursor) {
  RunChain(FMouseCursor, [] { return false; }, Sender, Pos, Cursor);
}

}  // namespace codeedit
