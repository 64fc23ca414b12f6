// libFuzzer target: any bytes as the configuration document. The parser must answer every input
// with a record or a positioned error, and the error must point inside the text (or just past it).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <span>

#include "core/config/config.hpp"
#include "platform/debug_form.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const char> text(reinterpret_cast<const char*>(data), size);
  auto parsed = brevlo::parse_game_config(text);
  if (!parsed) {
    // The position is read back from the display form, "<message> at line L column C".
    const std::string shown(parsed.error().text());
    const std::size_t at = shown.rfind(" at line ");
    unsigned long long line = 0, column = 0;
    if (at == std::string::npos || at == 0 ||
        std::sscanf(shown.c_str() + at, " at line %llu column %llu", &line, &column) != 2) {
      std::abort();
    }
    std::size_t lines = 1;
    for (char c : text) lines += c == '\n';
    if (line < 1 || line > lines || column > size) std::abort();
    (void)brevlo::debug_form(parsed.error());
  } else {
    (void)brevlo::quoted_form(parsed->mainBinaryName);
    (void)brevlo::quoted_form(parsed->productName);
  }
  return 0;
}
