#include "core/run_report_text.hpp"

#include "platform/text.hpp"

namespace brevlo {
namespace {

void append_two_digits(std::string& out, unsigned value) {
  out += static_cast<char>('0' + value / 10 % 10);
  out += static_cast<char>('0' + value % 10);
}

// The start of the first run block at or after from, or npos.
std::size_t next_run(std::string_view text, std::size_t from) {
  for (std::size_t at = from; at < text.size();) {
    if ((at == 0 || text[at - 1] == '\n') && text.substr(at).starts_with(kSupportLogRunMark)) {
      return at;
    }
    const std::size_t line_feed = text.find('\n', at);
    if (line_feed == std::string_view::npos) break;
    at = line_feed + 1;
  }
  return std::string_view::npos;
}

}  // namespace

std::string support_log_run(const LocalTime& start, std::string_view version,
                            std::string_view command_line, std::string_view printed,
                            int status) {
  std::string block(kSupportLogRunMark);
  block += version;
  block += " run at ";
  block += decimal(start.year);
  block += '-';
  append_two_digits(block, start.month);
  block += '-';
  append_two_digits(block, start.day);
  block += ' ';
  append_two_digits(block, start.hour);
  block += ':';
  append_two_digits(block, start.minute);
  block += ':';
  append_two_digits(block, start.second);
  block += ": ";
  for (const char c : command_line) block += (c == '\r' || c == '\n') ? ' ' : c;
  block += '\n';
  block += printed;
  if (!printed.empty() && !printed.ends_with('\n')) block += '\n';
  block += "== exit status ";
  block += decimal(status);
  block += '\n';
  return block;
}

std::string support_log_with_run(std::string_view existing, std::string_view run,
                                 std::size_t limit) {
  std::string log(existing);
  if (!log.empty() && !log.ends_with('\n')) log += '\n';
  const std::size_t new_run = log.size();
  log += run;
  std::size_t keep = next_run(log, 0);
  while (keep < new_run && log.size() - keep > limit) keep = next_run(log, keep + 1);
  if (keep > new_run) keep = new_run;  // run did not begin with the mark
  return log.substr(keep);
}

std::string_view failure_dialog_text(std::string_view err) {
  while (err.starts_with('\n')) err.remove_prefix(1);
  while (err.ends_with('\n')) err.remove_suffix(1);
  return err;
}

}  // namespace brevlo
