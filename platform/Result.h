#pragma once

#include <cstdint>
#include <utility>
#include <variant>

namespace platform {

// A value or an error code. C++20 on GCC 12 has no std::expected; this is the
// small part of it we need. E is an enum or an integer code; a default-built
// E{} means "no error" and is never stored as a failure.
template <class T, class E>
class [[nodiscard]] Result {
public:
  Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}
  static Result failure(E error) { return Result(error, 0); }

  bool ok() const { return v_.index() == 0; }
  explicit operator bool() const { return ok(); }
  E error() const { return ok() ? E{} : std::get<1>(v_); }

  T& value() & { return std::get<0>(v_); }
  const T& value() const& { return std::get<0>(v_); }
  T&& value() && { return std::get<0>(std::move(v_)); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }

private:
  Result(E error, int) : v_(std::in_place_index<1>, error) {}
  std::variant<T, E> v_;
};

// Result<void>: only success or an error code.
template <class E>
class [[nodiscard]] Status {
public:
  Status() = default;
  Status(E error) : error_(error) {}
  bool ok() const { return error_ == E{}; }
  explicit operator bool() const { return ok(); }
  E error() const { return error_; }

private:
  E error_{};
};

}  // namespace platform
