#pragma once

#include <string>
#include <vector>

// Appends the names of the local user accounts (the system's user database),
// in its order. False only on an unexpected failure; a null list takes the
// names nowhere.
bool GetLocalUserNames(std::vector<std::string>* list);
