#pragma once
// The embedded game.json and the record read from it.

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "platform/error.hpp"

namespace brevlo {

// The two texts the launcher takes from game.json, owned and unchanged.
struct GameConfig {
  std::string mainBinaryName;  // base name of the application executable, without ".exe"
  std::string productName;     // folder of the application under %LOCALAPPDATA%
};

// Why a document was refused, with the 1-based line of the point where the fault was found and
// its column: the number of bytes from the start of that line up to the point. Its debug form is
// Error("<message quoted>", line: L, column: C); its display form "<message> at line L column C".
Error parse_error(std::string_view message, std::size_t line, std::size_t column);

// Reads a whole document (start and length, no NUL needed): an object with the keys
// "mainBinaryName" and "productName" (other keys skipped, however deeply they nest), or an array
// of the two strings, followed by nothing but whitespace. Keeps no state; the text is not changed.
[[nodiscard]] Result<GameConfig> parse_game_config(std::span<const char> text);

// The document packed into this launcher, byte for byte as the build input; empty in a bare stub.
// Windows only.
std::span<const char> embedded_game_config();

// The context of the fatal stop for a document that does not parse; the message is this text,
// ": " and the parse error's debug form.
inline constexpr std::string_view kGameConfigStopContext = "无法解析 game.json";

// Parses the embedded document; a parse error is the fatal stop kGameConfigStopContext. Windows
// only.
GameConfig load_game_config();

}  // namespace brevlo
