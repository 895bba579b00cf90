#pragma once

// The errors the text layer raises, defined once here so that the registry
// and file code above it raises and catches the same classes.

#include <stdexcept>

// Bad input to a text conversion ("Invalid UTF7").
class EUniGeneralError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// A fault of the layer itself ("Buffer overflow"): never the caller's input.
class EUniInternalError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// A file that cannot be created or opened.
class EFCreateError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};
class EFOpenError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// The registry layer's failures ("Failed to get data for '%s'", ...).
class ERegistryException : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};
