#pragma once

// Whether the program runs as a 32-bit process on a 64-bit system.
bool IsWow64();
