#include "platform/messages.hpp"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <span>

#include "platform/error.hpp"
#include "platform/fixed_line.hpp"
#include "platform/output.hpp"
#include "platform/process.hpp"
#include "platform/text.hpp"

namespace brevlo {

std::string stack_trace_text();  // process_<platform>.cpp

namespace {

std::atomic<bool> g_note_written{false};
thread_local bool t_in_fatal_stop = false;

// The variable that asks a fatal stop for a stack trace instead of the note line.
constexpr const char* kBacktraceVariable = "BREVLO_BACKTRACE";

void print_to(Stream stream, std::initializer_list<std::string_view> pieces) {
  auto written = channel_write(stream, std::span(pieces.begin(), pieces.size()));
  if (!written) {
    const std::string_view name = stream == Stream::Stdout ? "stdout" : "stderr";
    std::string message = "failed printing to ";
    message += name;
    message += ": ";
    message += display_form(written.error());
    fatal_stop(message);
  }
}

void write_stderr(std::string_view text) {
  // The report goes straight to the device; a failure has nowhere to be reported.
  (void)write_all(standard_device(Stream::Stderr),
                  std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

bool backtrace_requested() {
  const char* value = std::getenv(kBacktraceVariable);
  return value != nullptr && *value != '\0' && std::strcmp(value, "0") != 0;
}

}  // namespace

void print_stdout(std::initializer_list<std::string_view> pieces) {
  print_to(Stream::Stdout, pieces);
}

void print_stderr(std::initializer_list<std::string_view> pieces) {
  print_to(Stream::Stderr, pieces);
}

std::string location_text(const std::source_location& location) {
  std::string out = location.file_name();
  for (char& c : out) {
    if (c == '/') c = '\\';
  }
  out += ':';
  out += decimal(location.line());
  out += ':';
  out += decimal(location.column());
  return out;
}

void fatal_stop(std::string_view message, std::source_location location) {
  const std::string where = location_text(location);
  if (t_in_fatal_stop) {
    // A stop while the first one is still on its way out: no second unwinding.
    std::string line = "panicked at " + where + ":\n";
    line += message;
    line += "\nthread panicked while processing panic. aborting.\n";
    fatal_runtime_exit(line);
  }
  t_in_fatal_stop = true;

  const std::string_view thread = is_main_thread() ? "main" : "<unnamed>";
  const std::string_view pieces[] = {"\nthread '", thread, "' panicked at ", where, ":\n",
                                     message, "\n"};
  // Formatted into a fixed buffer first, so the common report is one write and needs no memory.
  FixedLine<> report;
  for (std::string_view piece : pieces) report.add(piece);
  if (!report.cut()) {
    write_stderr(report.text());
  } else {
    for (std::string_view piece : pieces) write_stderr(piece);
  }

  if (!g_note_written.exchange(true)) {
    if (backtrace_requested()) {
      write_stderr(stack_trace_text());
    } else {
      write_stderr("note: run with `BREVLO_BACKTRACE=1` environment variable to display a "
                   "backtrace\n");
    }
  }
  throw FatalStop{};
}

void release_fatal_stop(FatalStop&) { t_in_fatal_stop = false; }

void reset_fatal_stop_note_for_testing() { g_note_written = false; }

}  // namespace brevlo
