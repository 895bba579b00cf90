#pragma once

#include <exception>
#include <string>

// The text of what fn() throws, or "(nothing thrown)".
template <class Fn>
std::string thrownText(Fn fn) {
  try {
    fn();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(nothing thrown)";
}
