#pragma once

// Keys made under a chosen security descriptor, for tests of what a key's
// security allows and how it reads.

#include <string>

#include "platform/WinTypes.h"

namespace testsupport {

// Creates root\path (missing parents too, which get the same descriptor)
// with the descriptor of the SDDL text. The handle asks for no rights, so a
// key that refuses this process is made as well. A failure is a test failure.
void createKeyWithSddl(platform::HKEY root, const std::string& path, const char* sddl);

}  // namespace testsupport
