// The one error vocabulary of the program's seams.
//
// Every seam call that can fail returns Result<T> (a value or an Error) or
// Status (= Result<void>: nothing or an Error). An Error carries the system's
// own number (errno, an ALSA code, an engine code) and the system's own text
// for it, taken where the failure happened, so the code that prints a message
// never needs to know which library failed.
//
// Any thread may use these types; they own their contents and share nothing.
#pragma once

#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

namespace vorta {

struct Error {
  int code = 0;      // errno / ALSA / engine number
  std::string text;  // the system's own text for it
};

template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}      // NOLINT: implicit
  Result(Error error) : state_(std::in_place_index<1>, std::move(error)) {}  // NOLINT: implicit

  bool ok() const { return state_.index() == 0; }
  // Only on ok(): the value.
  T& value() & { return std::get<0>(state_); }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  // Only on !ok(): the error.
  const Error& error() const { return std::get<1>(state_); }

 private:
  std::variant<T, Error> state_;
};

template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;
  Result(Error error) : error_(std::move(error)) {}  // NOLINT: implicit

  bool ok() const { return !error_.has_value(); }
  // Only on !ok(): the error.
  const Error& error() const { return *error_; }

 private:
  std::optional<Error> error_;
};

using Status = Result<void>;

}  // namespace vorta
