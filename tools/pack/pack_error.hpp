#pragma once
// The one way brevlo-pack's parts report a failure: a kind (which input, or what sort of
// failure) and a text that completes the line the tool prints for it.

#include <expected>
#include <string>
#include <utility>

namespace brevlo::pack {

enum class PackErrorKind {
  // A reader's finding in bytes it was given (a resource tree, an .ico, a PNG, a signature...);
  // whoever asked for the reading decides which input it was.
  Malformed,
  // The system's reason a file could not be opened, mapped, read, written or renamed, or a
  // digest computed.
  System,
  // A wrong command line (exit 2): the text names the problem.
  Usage,
  // An empty command line (exit 2): the usage line is the answer.
  NoCommand,
  // A --version that is not 1 to 4 numbers (exit 1).
  Version,
  // What `inspect` found wrong with a launcher (exit 1).
  Launcher,
  // Packing refused an input (exit 1); the text completes a line that names the input.
  Config,         // the launcher's own fatal-stop line for that document, whole
  Installer,      // "... is not a Windows executable: " text
  InstallerSize,  // "... is too large: " text
  NotAStub,       // "... is not a brevlo stub: " text
  Stub,           // "... cannot be packed: " text
  Icon,           // "... is not a valid .ico: " text
  Splash,         // "... is not a usable splash image: " text
  Output,         // the packed launcher itself (too large, a version resource over 64 KiB): text
};

struct PackError {
  PackErrorKind kind = PackErrorKind::Malformed;
  std::string text;
  friend bool operator==(const PackError&, const PackError&) = default;
};

// A value or the PackError that stopped it; not to be dropped.
template <typename T>
class [[nodiscard]] PackResult : public std::expected<T, PackError> {
  using Base = std::expected<T, PackError>;

 public:
  using Base::Base;
  PackResult() = default;
  PackResult(Base other) : Base(std::move(other)) {}  // NOLINT: a result passed on as it is
};

[[nodiscard]] inline std::unexpected<PackError> pack_error(PackErrorKind kind, std::string text) {
  return std::unexpected(PackError{kind, std::move(text)});
}

// The same failure, told as one about another input (a reader's finding refusing an icon...).
[[nodiscard]] inline std::unexpected<PackError> as_kind(PackErrorKind kind, PackError error) {
  return pack_error(kind, std::move(error.text));
}

}  // namespace brevlo::pack
