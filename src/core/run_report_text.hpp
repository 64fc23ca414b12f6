#pragma once
// What a launcher packed with --support-log or --failure-dialog makes of a finished run: the
// run's block in the support log, and the text of the failure dialog. Pure text work.

#include <cstddef>
#include <string>
#include <string_view>

namespace brevlo {

// The support log is kept at most this long, in whole runs.
inline constexpr std::size_t kSupportLogLimit = 64 * 1024;

// Every run's block begins with a line that begins with this.
inline constexpr std::string_view kSupportLogRunMark = "== brevlo ";

// A local date and time as the system gives it.
struct LocalTime {
  unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// One run's block:
//   == brevlo <version> run at YYYY-MM-DD hh:mm:ss: <command line>
//   <everything printed, as printed>
//   == exit status <status>
// A carriage return or line feed in the command line becomes a space; a line feed is added
// before the last line when the printed text does not end with one.
std::string support_log_run(const LocalTime& start, std::string_view version,
                            std::string_view command_line, std::string_view printed, int status);

// The log after appending run (a block from support_log_run) to existing: whatever existing holds
// before its first run is dropped, then the oldest runs while the whole is longer than limit; the
// new run is always kept.
std::string support_log_with_run(std::string_view existing, std::string_view run,
                                 std::size_t limit = kSupportLogLimit);

// The dialog's text: what the run wrote to standard error, without the line feeds around it.
std::string_view failure_dialog_text(std::string_view err);

}  // namespace brevlo
