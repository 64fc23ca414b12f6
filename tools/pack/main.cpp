// brevlo-pack: makes a launcher from a brevlo stub, a game.json and an installer (pack_tool.hpp).
// The Windows build takes its arguments as UTF-16 (wmain, linked with -municode) so that any
// file name and product name arrives whole; they are UTF-8 (WTF-8) from there on.

#include <string>
#include <string_view>
#include <vector>

#include "pack/pack_tool.hpp"
#include "platform/output.hpp"
#include "platform/text.hpp"

namespace {

int run(std::vector<std::string> args) {
  const brevlo::pack::ToolOutcome outcome = brevlo::pack::run_pack_tool(args);
  if (!outcome.out.empty()) {
    const std::string_view pieces[] = {outcome.out};
    (void)brevlo::channel_write(brevlo::Stream::Stdout, pieces);
  }
  if (!outcome.err.empty()) {
    const std::string_view pieces[] = {outcome.err};
    (void)brevlo::channel_write(brevlo::Stream::Stderr, pieces);
  }
  brevlo::output_cleanup();
  return outcome.status;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    const std::wstring_view arg(argv[i]);
    args.push_back(brevlo::wtf8_from_utf16(
        std::u16string_view(reinterpret_cast<const char16_t*>(arg.data()), arg.size())));
  }
  return run(std::move(args));
}
#else
int main(int argc, char** argv) { return run(std::vector<std::string>(argv + 1, argv + argc)); }
#endif
