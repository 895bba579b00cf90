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

// The handlers as they stand when the run begins, newest first: a handler
// that adds or removes handlers changes the next run, not this one.
template <class Chain>
auto Snapshot(const Chain& C) {
  auto Handlers = C.Handlers;
  std::reverse(Handlers.begin(), Handlers.end());
  return Handlers;
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
  if (FKeyDown.Busy)
    return;
  BusyScope Guard(FKeyDown.Busy);
  for (const auto& H : Snapshot(FKeyDown)) {
    H.second(Sender, Key, Shift);
    if (Key == 0)
      break;
  }
}

void TCodeEditKbdHandler::RunKeyUpHandlers(void* Sender, std::uint16_t& Key, TShiftState Shift) {
  if (FKeyUp.Busy)
    return;
  BusyScope Guard(FKeyUp.Busy);
  for (const auto& H : Snapshot(FKeyUp)) {
    H.second(Sender, Key, Shift);
    if (Key == 0)
      break;
  }
}

void TCodeEditKbdHandler::RunKeyPressHandlers(void* Sender, char16_t& Key) {
  if (FKeyPress.Busy)
    return;
  BusyScope Guard(FKeyPress.Busy);
  for (const auto& H : Snapshot(FKeyPress)) {
    H.second(Sender, Key);
    if (Key == 0)
      break;
  }
}

void TCodeEditKbdHandler::RunMouseDownHandlers(void* Sender, TMouseButton Button, TShiftState Shift, int X, int Y) {
  if (FMouseDown.Busy)
    return;
  BusyScope Guard(FMouseDown.Busy);
  for (const auto& H : Snapshot(FMouseDown))
    H.second(Sender, Button, Shift, X, Y);
}

void TCodeEditKbdHandler::RunMouseUpHandlers(void* Sender, TMouseButton Button, TShiftState Shift, int X, int Y) {
  if (FMouseUp.Busy)
    return;
  BusyScope Guard(FMouseUp.Busy);
  for (const auto& H : Snapshot(FMouseUp))
    H.second(Sender, Button, Shift, X, Y);
}

void TCodeEditKbdHandler::RunMouseCursorHandlers(void* Sender, const TBufferCoord& Pos, int& Cursor) {
  if (FMouseCursor.Busy)
    return;
  BusyScope Guard(FMouseCursor.Busy);
  for (const auto& H : Snapshot(FMouseCursor))
    H.second(Sender, Pos, Cursor);
}

}  // namespace codeedit
