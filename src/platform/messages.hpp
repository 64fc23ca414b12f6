#pragma once
// Printing and the fatal stop.

#include <expected>
#include <initializer_list>
#include <source_location>
#include <string>
#include <string_view>
#include <utility>

#include "platform/process.hpp"

namespace brevlo {

// Writes a message to standard output, piece by piece under the channel's lock. The caller ends
// its lines with "\n"; nothing is added or translated. A failure is a fatal stop.
void print_stdout(std::initializer_list<std::string_view> pieces);

// The same for standard error.
void print_stderr(std::initializer_list<std::string_view> pieces);

// What a fatal stop throws once its report is written; only the process frame catches it, so
// every owner on the way releases what it holds.
struct FatalStop {
  FatalStop() = default;
};

// Writes the fatal-stop report for message at location and unwinds to the process frame.
[[noreturn]] void fatal_stop(std::string_view message,
                             std::source_location location = std::source_location::current());

// Ends the stop once the process frame has caught it.
void release_fatal_stop(FatalStop& stop);

// Lets the next fatal stop write its note line (or trace) again, as the first of a process does.
void reset_fatal_stop_note_for_testing();

// Gives the success value of result; on an error, a fatal stop with context, ": " and the error's
// debug form, reported at the caller's location.
template <class T, class E>
T expect_ok(std::expected<T, E> result, std::string_view context,
            std::source_location location = std::source_location::current()) {
  if (!result) {
    std::string message(context);
    message += ": ";
    message += debug_form(result.error());
    fatal_stop(message, location);
  }
  if constexpr (!std::is_void_v<T>) {
    return std::move(*result);
  }
}

// The location as a report shows it: file with backslashes, ":", line, ":", column.
std::string location_text(const std::source_location& location);

}  // namespace brevlo
