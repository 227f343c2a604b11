// The one error vocabulary of the program's seams.
//
// Every seam call that can fail returns Result<T> (a value or an Error) or
// Status (= Result<void>: nothing or an Error). An Error carries what kind of
// failure it is, decided inside the backend that failed (so no caller ever
// tests errno, ALSA, waveIn or engine numbers), the system's own number for
// the message and the log, and the system's own text for it, taken where the
// failure happened. A layer that adds what it was doing when the failure
// came names its own error type as the second parameter.
//
// Any thread may use these types; they own their contents and share nothing.
#pragma once

#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

namespace vorta {

// What went wrong, as far as any caller acts on it.
enum class ErrorKind {
  Failed,          // none of the kinds below
  NoDevice,        // no capture device of that name or number
  DeviceBusy,      // another program holds the device
  FormatRefused,   // the device does not take the format asked for
  RawDevice,       // a raw ALSA device (hw:) refused the format; its plughw: twin converts
  NoAnswer,        // a sound server that never answered in time
  Cancelled,       // a stop came while waiting
  DeviceGone,      // the device or its server went away
  NoSound,         // a running input gave no sound for too long
  OutOfMemory,
  DiskFull,
  NoPermission,
  NotFound,        // no such file or folder
  EngineRefused,   // the MP3 engine refused its parameters or its input
  NotSupported,
};

struct Error {
  ErrorKind kind = ErrorKind::Failed;
  int code = 0;      // the system's own number (errno, ALSA, MMRESULT, engine), for the texts
  std::string text;  // the system's own text for it
};

template <class T, class E = Error>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}  // NOLINT: implicit
  Result(E error) : state_(std::in_place_index<1>, std::move(error)) {}  // NOLINT: implicit

  bool ok() const { return state_.index() == 0; }
  // Only on ok(): the value.
  T& value() & { return std::get<0>(state_); }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  // Only on !ok(): the error.
  const E& error() const { return std::get<1>(state_); }

 private:
  std::variant<T, E> state_;
};

template <class E>
class [[nodiscard]] Result<void, E> {
 public:
  Result() = default;
  Result(E error) : error_(std::move(error)) {}  // NOLINT: implicit

  bool ok() const { return !error_.has_value(); }
  // Only on !ok(): the error.
  const E& error() const { return *error_; }

 private:
  std::optional<E> error_;
};

using Status = Result<void>;

}  // namespace vorta
