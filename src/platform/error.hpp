#pragma once
// The error value that every operating-system operation of the launcher fails with.

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

namespace brevlo {

// Categories of failure, named as they appear in debug forms.
enum class ErrorKind {
  NotFound,
  PermissionDenied,
  InvalidInput,
  InvalidData,
  AlreadyExists,
  BrokenPipe,
  WriteZero,
  Other,
  Uncategorized,
};

// The name a debug form shows for a kind ("NotFound", ...).
std::string_view kind_name(ErrorKind kind);

// The kind a Windows error code maps to; codes without a mapping are Uncategorized.
ErrorKind kind_of_code(std::uint32_t code);

// Either a system error (a 32-bit Windows error code) or a fixed English text with a kind.
class Error {
 public:
  // A system error with the code exactly as received.
  static Error os(std::uint32_t code) { return Error(code); }
  // A fixed-text error; the text must outlive the process (a literal).
  static Error fixed(ErrorKind kind, std::string_view text) { return Error(kind, text); }

  bool is_os() const { return is_os_; }
  std::uint32_t code() const { return code_; }
  ErrorKind kind() const { return is_os_ ? kind_of_code(code_) : kind_; }
  std::string_view text() const { return text_; }

  friend bool operator==(const Error&, const Error&) = default;

 private:
  explicit Error(std::uint32_t code) : is_os_(true), code_(code) {}
  Error(ErrorKind kind, std::string_view text) : kind_(kind), text_(text) {}

  bool is_os_ = false;
  std::uint32_t code_ = 0;
  ErrorKind kind_ = ErrorKind::Other;
  std::string_view text_;
};

template <class T>
using Result = std::expected<T, Error>;

// Display form: system message, " (os error N)"; or the fixed text alone.
std::string display_form(const Error& error);

// Debug form: Os { code: N, kind: K, message: "..." } or Error { kind: K, message: "..." }.
std::string debug_form(const Error& error);

// "true" or "false".
inline std::string_view display_form(bool value) { return value ? "true" : "false"; }

}  // namespace brevlo
