// brevlo-check-config FILE: reads a game.json the way the launcher reads the one it embeds.
// Exit 0: the two texts the launcher would take, one per line, on standard output.
// Exit 1: the message line of the fatal stop every run of such a launcher would make, on standard
//         error.
// Exit 2: the file could not be read (or no single FILE was given).

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <expected>
#include <iostream>
#include <string>

#include "core/config/config.hpp"
#include "platform/unique_resource.hpp"

namespace {

struct CloseFile {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using OpenedFile = brevlo::UniqueResource<std::FILE*, CloseFile>;

// The whole file, or the system's reason why it could not be read (a directory opens but does
// not read).
std::expected<std::string, std::string> read_file(const char* path) {
  const OpenedFile file(std::fopen(path, "rb"));
  if (!file) return std::unexpected(std::strerror(errno));
  std::string bytes;
  char buffer[16384];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) bytes.append(buffer, n);
  if (std::ferror(file.get())) return std::unexpected(std::strerror(errno));
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: brevlo-check-config FILE\n";
    return 2;
  }
  const auto document = read_file(argv[1]);
  if (!document) {
    std::cerr << "brevlo-check-config: cannot read " << argv[1] << ": " << document.error()
              << '\n';
    return 2;
  }
  const auto config = brevlo::parse_game_config(*document);
  if (!config) {
    std::cerr << brevlo::kGameConfigStopContext << ": " << brevlo::debug_form(config.error())
              << '\n';
    return 1;
  }
  std::cout << "mainBinaryName: " << config->mainBinaryName << '\n'
            << "productName: " << config->productName << '\n';
  return 0;
}
