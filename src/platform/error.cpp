#include "platform/error.hpp"

#include "platform/debug_form.hpp"
#include "platform/system_message.hpp"
#include "platform/text.hpp"

namespace brevlo {

std::string_view kind_name(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::NotFound: return "NotFound";
    case ErrorKind::PermissionDenied: return "PermissionDenied";
    case ErrorKind::InvalidInput: return "InvalidInput";
    case ErrorKind::InvalidData: return "InvalidData";
    case ErrorKind::AlreadyExists: return "AlreadyExists";
    case ErrorKind::BrokenPipe: return "BrokenPipe";
    case ErrorKind::WriteZero: return "WriteZero";
    case ErrorKind::Other: return "Other";
    case ErrorKind::Uncategorized: return "Uncategorized";
  }
  return "Uncategorized";
}

ErrorKind kind_of_code(std::uint32_t code) {
  switch (code) {
    case 2:    // ERROR_FILE_NOT_FOUND
    case 3:    // ERROR_PATH_NOT_FOUND
      return ErrorKind::NotFound;
    case 5:    // ERROR_ACCESS_DENIED
      return ErrorKind::PermissionDenied;
    case 87:   // ERROR_INVALID_PARAMETER
      return ErrorKind::InvalidInput;
    case 80:   // ERROR_FILE_EXISTS
    case 183:  // ERROR_ALREADY_EXISTS
      return ErrorKind::AlreadyExists;
    case 109:  // ERROR_BROKEN_PIPE
    case 232:  // ERROR_NO_DATA (pipe being closed)
      return ErrorKind::BrokenPipe;
    default:
      return ErrorKind::Uncategorized;
  }
}

struct Error::Owned {
  std::string display;
  std::string debug;
  friend bool operator==(const Owned&, const Owned&) = default;
};

Error Error::message(ErrorKind kind, std::string text) {
  Error error(Form::Message, kind, 0);
  error.owned_ = std::make_unique<Owned>(Owned{std::move(text), {}});
  return error;
}

Error Error::with_forms(ErrorKind kind, std::string display, std::string debug) {
  Error error(Form::OwnForms, kind, 0);
  error.owned_ = std::make_unique<Owned>(Owned{std::move(display), std::move(debug)});
  return error;
}

Error::Error(const Error& other)
    : form_(other.form_),
      code_(other.code_),
      kind_(other.kind_),
      fixed_(other.fixed_),
      owned_(other.owned_ ? std::make_unique<Owned>(*other.owned_) : nullptr) {}

Error& Error::operator=(const Error& other) {
  if (this != &other) *this = Error(other);
  return *this;
}

Error::Error(Form form, ErrorKind kind, std::uint32_t code) : form_(form), code_(code), kind_(kind) {}

Error::Error(Error&&) noexcept = default;
Error& Error::operator=(Error&&) noexcept = default;
Error::~Error() = default;

std::string_view Error::text() const {
  if (owned_) return owned_->display;
  return fixed_;
}

bool operator==(const Error& a, const Error& b) {
  if (a.form_ != b.form_ || a.code_ != b.code_ || a.kind_ != b.kind_ || a.fixed_ != b.fixed_) {
    return false;
  }
  if (!a.owned_ || !b.owned_) return !a.owned_ && !b.owned_;
  return *a.owned_ == *b.owned_;
}

std::string display_form(const Error& error) {
  if (!error.is_os()) return std::string(error.text());
  std::string out = system_message(error.code());
  out += " (os error ";
  out += decimal(error.code());
  out += ')';
  return out;
}

std::string debug_form(const Error& error) {
  if (error.form_ == Error::Form::OwnForms) return error.owned_->debug;
  std::string out;
  if (error.is_os()) {
    out = "Os { code: ";
    out += decimal(error.code());
    out += ", kind: ";
    out += kind_name(error.kind());
    out += ", message: ";
    out += quoted_form(system_message(error.code()));
  } else {
    out = "Error { kind: ";
    out += kind_name(error.kind());
    out += ", message: ";
    out += quoted_form(error.text());
  }
  out += " }";
  return out;
}

}  // namespace brevlo
