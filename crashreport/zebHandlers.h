#pragma once

// Handlers a program hooks into the handling of exceptions: exception
// handlers (called in the phases of an exception; before phase 3 they may
// mark it handled, and then no dialog appears), action handlers (told of the
// user's or the automatic choice; they may take it over) and hidden-exception
// handlers. A handler runs on the handling thread, or on the main thread
// when it asks to (sync mode 1; 2 falls back to the handling thread when the
// main thread does not answer within 1500 ms).

#include <cstdint>

#include "crashreport/zebExceptObject.h"

namespace zeb {

enum class HandlerKind : std::uint8_t { Exception = 0, Action = 1, Hidden = 2 };

enum ExceptionAction : std::uint8_t {
  ActionSend = 0, ActionSave = 1, ActionPrint = 2,
  ActionSendDone = 3, ActionSaveDone = 4, ActionPrintDone = 5,
  ActionShowReport = 6, ActionHelp = 7,
  ActionContinue = 8, ActionRestart = 9, ActionClose = 10,
};

using ExceptionHandlerProc = void (*)(IZeqException& exception, bool& handled);
using ExceptionHandlerMethod = void (*)(void* object, IZeqException& exception, bool& handled);
using ActionHandlerProc = void (*)(std::uint8_t action, IZeqException& exception, bool& handled);
using ActionHandlerMethod = void (*)(void* object, std::uint8_t action, IZeqException& exception, bool& handled);

// Registration; syncMode 0 (handling thread), 1 (main thread), 2 (main
// thread when it answers). `phase` 1 to 4; hidden-exception handlers have
// none. Registering an entry again changes its modes.
void RegisterExceptionHandler(ExceptionHandlerProc handler, std::uint8_t syncMode, std::uint8_t phase);
void RegisterExceptionHandler(ExceptionHandlerMethod handler, void* object, std::uint8_t syncMode, std::uint8_t phase);
void RegisterHiddenExceptionHandler(ExceptionHandlerProc handler, std::uint8_t syncMode);
void RegisterActionHandler(ActionHandlerProc handler, std::uint8_t syncMode);
void RegisterActionHandler(ActionHandlerMethod handler, void* object, std::uint8_t syncMode);
void UnregisterExceptionHandler(ExceptionHandlerProc handler);
void UnregisterExceptionHandler(ExceptionHandlerMethod handler, void* object);
void UnregisterHiddenExceptionHandler(ExceptionHandlerProc handler);
void UnregisterActionHandler(ActionHandlerProc handler);
void UnregisterActionHandler(ActionHandlerMethod handler, void* object);
// Empties the six lists.
void ClearHandlers();

// Whether an exception handler is registered for phase 4 (complete report).
bool HasCompletePhaseHandler();
bool HasHiddenExceptionHandlers();

// Fires the handlers of `kind` for the exception; `handled` goes in and out.
// Actions 9 and 10 first wait for the complete report when a callback or a
// phase-4 handler needs it, since the process may end right after them.
void FireEvent(HandlerKind kind, std::uint8_t action, bool& handled, TIZeqException& exception);

// Whether the main thread is running synchronised handlers now (its own
// exceptions are then ignored).
bool SyncingHandlersOnMainThread();

}  // namespace zeb
