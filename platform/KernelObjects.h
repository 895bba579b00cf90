#pragma once

// Glue between the owners of handle numbers inside platform/ (events and the
// handle counter in Kernel.cpp, tokens in Security.cpp, keys in the registry
// store). Not for use outside platform/.

#include <cstdint>
#include <memory>

#include "platform/WinTypes.h"

namespace platform::kernel {

// A fresh handle number, never 0, never a predefined registry root, never
// given out twice.
std::uintptr_t allocateHandleValue();

// True when the number was a token / key handle and is now closed.
bool closeTokenHandle(HANDLE handle);
bool closeKeyHandle(HANDLE handle);

// A reference that keeps an event alive after its handle is closed (a change
// notification holds one until it fires). Null when the handle is no event.
std::shared_ptr<void> retainEvent(HANDLE event);
void signalRetainedEvent(const std::shared_ptr<void>& event);

}  // namespace platform::kernel
