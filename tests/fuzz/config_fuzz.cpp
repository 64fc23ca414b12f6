// libFuzzer target: any bytes as the configuration document. The parser must answer every input
// with a record or a positioned error, and the error must point inside the text (or just past it).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "core/config/config.hpp"
#include "platform/debug_form.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const char> text(reinterpret_cast<const char*>(data), size);
  auto parsed = brevlo::parse_game_config(text);
  if (!parsed) {
    const auto& error = parsed.error();
    std::size_t lines = 1;
    for (char c : text) lines += c == '\n';
    if (error.line < 1 || error.line > lines || error.column > size || error.message.empty()) {
      std::abort();
    }
    (void)brevlo::debug_form(error);
  } else {
    (void)brevlo::quoted_form(parsed->mainBinaryName);
    (void)brevlo::quoted_form(parsed->productName);
  }
  return 0;
}
