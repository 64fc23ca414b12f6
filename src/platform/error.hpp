#pragma once
// The error value that every operating-system operation of the launcher fails with.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
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

// A text that lives as long as the process: only a string literal (or another constant array)
// converts to it, and the compiler refuses anything else.
class StaticText {
 public:
  template <std::size_t N>
  consteval StaticText(const char (&text)[N]) : text_(text, N - 1) {}  // NOLINT: implicit
  constexpr std::string_view view() const { return text_; }

 private:
  std::string_view text_;
};

// Every failure the launcher and its tools report: a system error (a 32-bit Windows error code), a
// fixed English text with a kind, a text made at run time, or one with display and debug forms of
// its own (a refused document, an environment variable that is missing).
class Error {
 public:
  // A system error with the code exactly as received.
  static Error os(std::uint32_t code) { return Error(Form::Os, ErrorKind::Other, code); }
  // A fixed-text error; allocates nothing.
  static Error fixed(ErrorKind kind, StaticText text) {
    Error error(Form::Fixed, kind, 0);
    error.fixed_ = text.view();
    return error;
  }
  // An error whose text was made at run time; its debug form is that of a fixed text.
  static Error message(ErrorKind kind, std::string text);
  // An error shown as display where a person reads it and as debug in a fatal stop.
  static Error with_forms(ErrorKind kind, std::string display, std::string debug);

  // Out of line: the texts an error may own are copied and freed in one place, not at every use.
  Error(const Error& other);
  Error& operator=(const Error& other);
  Error(Error&& other) noexcept;
  Error& operator=(Error&& other) noexcept;
  ~Error();

  bool is_os() const { return form_ == Form::Os; }
  std::uint32_t code() const { return code_; }
  ErrorKind kind() const { return is_os() ? kind_of_code(code_) : kind_; }
  // The text of an error that is not a system error.
  std::string_view text() const;

  friend bool operator==(const Error& a, const Error& b);

 private:
  enum class Form : std::uint8_t { Os, Fixed, Message, OwnForms };
  struct Owned;
  Error(Form form, ErrorKind kind, std::uint32_t code);

  friend std::string debug_form(const Error& error);

  Form form_;
  std::uint32_t code_ = 0;
  ErrorKind kind_ = ErrorKind::Other;
  std::string_view fixed_;
  std::unique_ptr<Owned> owned_;  // the texts of Message and OwnForms
};

// A value or the Error it failed with. The compiler warns when one is dropped: a caller that means
// to ignore a failure says so with (void).
template <class T>
class [[nodiscard]] Result : public std::expected<T, Error> {
  using Base = std::expected<T, Error>;

 public:
  using Base::Base;
  constexpr Result() = default;
  constexpr Result(Base base) : Base(std::move(base)) {}  // NOLINT: implicit
};

// Display form: system message, " (os error N)"; or the fixed text alone.
std::string display_form(const Error& error);

// Debug form: Os { code: N, kind: K, message: "..." } or Error { kind: K, message: "..." }.
std::string debug_form(const Error& error);

// "true" or "false".
inline std::string_view display_form(bool value) { return value ? "true" : "false"; }

}  // namespace brevlo
