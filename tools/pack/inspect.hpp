#pragma once
// Reading a packed launcher (signed or not) without running it: what it carries and whether it is
// whole. Every offset and size in the file is checked before use.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/payload.hpp"
#include "pack/pack_error.hpp"
#include "pack/pe_format.hpp"

namespace brevlo::pack {

// The launcher's Authenticode signature as far as this machine can check it: the file digest it
// signs against the file's own; the chain of trust is not checked.
struct SignatureFacts {
  std::string signer;            // subject of the signer's certificate
  std::string digest_algorithm;  // "sha256", ... (the dotted OID when it is none of those)
};

// The splash image a launcher carries: its size in pixels and the bytes its section holds.
struct SplashFacts {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint64_t bytes = 0;
};

// Everything `brevlo-pack inspect` reports about a whole launcher.
struct LauncherFacts {
  std::string stub_version;  // empty for a stub that states none
  std::string main_binary_name;
  std::string product_name;
  std::string game_path;  // %LOCALAPPDATA%\<productName>\<mainBinaryName>.exe
  std::uint64_t installer_size = 0;
  std::string installer_sha256;     // lower-case hexadecimal, computed from the image
  std::string installer_xxh3;       // the digest the launcher checks, lower-case hexadecimal
  std::string installer_signature;  // "absent", "present" or "malformed"
  std::vector<std::string> icon_sizes;  // "WxH" of the group icon's images; none if unreadable
  std::optional<std::string> file_description, version_product_name, product_version,
      file_version;  // the version resource's strings, when it has one that can be read
  PackOptions options;
  std::optional<SplashFacts> splash;  // with --splash only
  std::optional<SignatureFacts> signature;
};

// The facts of a whole launcher, or one line's worth of what is wrong with it: not a launcher,
// sections out of place, a document that does not parse, a damaged options or splash section
// (or one without the other), an installer whose digest is not the recorded one, a signature that does not cover the file's bytes. The
// installer and the signed bytes are read kWindow bytes at a time, done told of each window.
[[nodiscard]] PackResult<LauncherFacts> inspect_launcher(
    Bytes file, const WindowDone& done = {});

// "absent", "present" or "malformed": whether image (a PE file) carries a certificate table with
// a well-formed PKCS #7 entry.
std::string certificate_table_state(Bytes image);

// The facts one to a line, "name: value" (see docs/publisher-guide.md); control characters in
// values are written as \xHH.
std::string facts_text(const LauncherFacts& facts);

// The same facts as one JSON object and a line feed.
std::string facts_json(const LauncherFacts& facts);

}  // namespace brevlo::pack
