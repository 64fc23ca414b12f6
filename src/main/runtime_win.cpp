// The C++ runtime's last resorts, defined by the launcher itself (linked into the launcher and its
// frame probe only; the library and the test programs keep the runtime's own).
//
// Why they exist: the launcher's only exception is the fatal stop, which the process frame always
// catches, so neither std::terminate nor the library's std::__throw_* functions are reached in a
// run that works. The runtime's versions of them still cost the launcher 100 KiB: the verbose
// terminate handler brings the demangler, and the __throw_* functions bring std::system_error,
// the <stdexcept> family and two more copies of std::string. Defined here, the linker takes these
// and never loads the runtime's objects that define them (should another reference ever pull one
// of those in, the link fails with a duplicate definition rather than silently growing). Each
// ends the process the way every failure of the frame's own machinery does: one line
// "fatal runtime error: ..." on standard error, then the system's fast-fail, without unwinding or
// clean-up.
#include <bits/functexcept.h>
#include <cxxabi.h>

#include <cstdarg>
#include <cstddef>
#include <string_view>

#include "platform/fixed_line.hpp"

namespace brevlo {
namespace {

// The line "fatal runtime error: <what>\n".
class FatalLine : public FixedLine<> {
 public:
  explicit FatalLine(std::string_view what) {
    add("fatal runtime error: ");
    add(what);
  }

  // Formats as the runtime formats its own messages: "%s", "%zu" and "%%" are replaced, any other
  // text is copied as it stands.
  void add_formatted(const char* format, std::va_list args) {
    for (std::string_view rest(format); !rest.empty();) {
      if (rest.starts_with("%s")) {
        add(va_arg(args, const char*));
        rest.remove_prefix(2);
      } else if (rest.starts_with("%zu")) {
        add_decimal(va_arg(args, std::size_t));
        rest.remove_prefix(3);
      } else if (rest.starts_with("%%")) {
        add("%");
        rest.remove_prefix(2);
      } else {
        add(rest.substr(0, 1));
        rest.remove_prefix(1);
      }
    }
  }
};

[[noreturn]] void end_with(std::string_view what) { FatalLine(what).end(); }

[[noreturn]] void end_with(std::string_view what, const char* detail) {
  FatalLine line(what);
  line.add(": ");
  line.add(detail);
  line.end();
}

}  // namespace
}  // namespace brevlo

namespace __gnu_cxx {

// Installed by the runtime as the terminate handler; reached when an exception cannot be thrown
// or leaves a function that may not throw.
void __verbose_terminate_handler() { brevlo::end_with("std::terminate called"); }

}  // namespace __gnu_cxx

namespace std {

// Every function of the runtime's object that defines them (functexcept.o), and the two defined
// beside std::function and std::system_error.
void __throw_bad_exception() { brevlo::end_with("std::bad_exception"); }
void __throw_bad_alloc() { brevlo::end_with("std::bad_alloc"); }
void __throw_bad_array_new_length() { brevlo::end_with("std::bad_array_new_length"); }
void __throw_bad_cast() { brevlo::end_with("std::bad_cast"); }
void __throw_bad_typeid() { brevlo::end_with("std::bad_typeid"); }
void __throw_bad_function_call() { brevlo::end_with("std::bad_function_call"); }
void __throw_logic_error(const char* what) { brevlo::end_with("std::logic_error", what); }
void __throw_domain_error(const char* what) { brevlo::end_with("std::domain_error", what); }
void __throw_invalid_argument(const char* what) {
  brevlo::end_with("std::invalid_argument", what);
}
void __throw_length_error(const char* what) { brevlo::end_with("std::length_error", what); }
void __throw_out_of_range(const char* what) { brevlo::end_with("std::out_of_range", what); }
void __throw_out_of_range_fmt(const char* format, ...) {
  brevlo::FatalLine line("std::out_of_range: ");
  std::va_list args;
  va_start(args, format);
  line.add_formatted(format, args);
  va_end(args);
  line.end();
}
void __throw_runtime_error(const char* what) { brevlo::end_with("std::runtime_error", what); }
void __throw_range_error(const char* what) { brevlo::end_with("std::range_error", what); }
void __throw_overflow_error(const char* what) { brevlo::end_with("std::overflow_error", what); }
void __throw_underflow_error(const char* what) {
  brevlo::end_with("std::underflow_error", what);
}
void __throw_system_error(int code) {
  brevlo::FatalLine line("std::system_error: error ");
  if (code < 0) line.add("-");
  line.add_decimal(code < 0 ? 0ull - static_cast<unsigned long long>(code)
                            : static_cast<unsigned long long>(code));
  line.end();
}

}  // namespace std
