#pragma once

// How many sessions are open on this computer: the login sessions the
// system's utmp records (its USER_PROCESS entries).

#include <functional>

// 0 when the records cannot be read.
unsigned GetTerminalSessionCount();

// For tests: the count GetTerminalSessionCount gives; an empty function
// gives the real count back.
void SetTerminalSessionCounter(std::function<unsigned()> counter);
