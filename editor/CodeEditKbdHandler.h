#pragma once

// The chains through which plug-ins see the editor's keys and mouse clicks
// before or beside the editor itself. Key handlers run from the last added
// to the first and stop once one sets the key to 0; mouse handlers all run.
// A chain that is running does not run again from inside one of its
// handlers.

#include <cstdint>
#include <functional>
#include <vector>

#include "editor/CodeEditKeyCmds.h"
#include "editor/CodeEditTypes.h"

namespace codeedit {

enum TMouseButton : std::uint8_t { mbLeft = 0, mbRight = 1, mbMiddle = 2 };

class TCodeEditKbdHandler {
public:
  using TKeyEvent = std::function<void(void* Sender, std::uint16_t& Key, TShiftState Shift)>;
  using TKeyPressEvent = std::function<void(void* Sender, char16_t& Key)>;
  using TMouseEvent = std::function<void(void* Sender, TMouseButton Button, TShiftState Shift, int X, int Y)>;
  using TMouseCursorEvent = std::function<void(void* Sender, const TBufferCoord& Pos, int& Cursor)>;

  // Each Add answers a number that removes the handler again.
  int AddKeyDownHandler(TKeyEvent Handler) { return add(FKeyDown, std::move(Handler)); }
  int AddKeyUpHandler(TKeyEvent Handler) { return add(FKeyUp, std::move(Handler)); }
  int AddKeyPressHandler(TKeyPressEvent Handler) { return add(FKeyPress, std::move(Handler)); }
  int AddMouseDownHandler(TMouseEvent Handler) { return add(FMouseDown, std::move(Handler)); }
  int AddMouseUpHandler(TMouseEvent Handler) { return add(FMouseUp, std::move(Handler)); }
  int AddMouseCursorHandler(TMouseCursorEvent Handler) { return add(FMouseCursor, std::move(Handler)); }
  void RemoveHandler(int Id);

  void RunKeyDownHandlers(void* Sender, std::uint16_t& Key, TShiftState Shift);
  void RunKeyUpHandlers(void* Sender, std::uint16_t& Key, TShiftState Shift);
  void RunKeyPressHandlers(void* Sender, char16_t& Key);
  void RunMouseDownHandlers(void* Sender, TMouseButton Button, TShiftState Shift, int X, int Y);
  void RunMouseUpHandlers(void* Sender, TMouseButton Button, TShiftState Shift, int X, int Y);
  void RunMouseCursorHandlers(void* Sender, const TBufferCoord& Pos, int& Cursor);

private:
  template <class F>
  struct Chain {
    std::vector<std::pair<int, F>> Handlers;
    bool Busy = false;
  };
  template <class F>
  int add(Chain<F>& C, F Handler) {
    if (!Handler)
      return 0;
    C.Handlers.emplace_back(FNextId, std::move(Handler));
    return FNextId++;
  }

  Chain<TKeyEvent> FKeyDown;
  Chain<TKeyEvent> FKeyUp;
  Chain<TKeyPressEvent> FKeyPress;
  Chain<TMouseEvent> FMouseDown;
  Chain<TMouseEvent> FMouseUp;
  Chain<TMouseCursorEvent> FMouseCursor;
  int FNextId = 1;
};

}  // namespace codeedit
