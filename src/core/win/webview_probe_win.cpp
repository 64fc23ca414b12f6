#include "core/win/webview_probe.hpp"

#include <cstddef>
#include <expected>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.hpp"
#include "platform/handle_win.hpp"
#include "platform/text.hpp"

namespace brevlo {
namespace {

// The key names the 32-bit branch itself, so no registry-view flag is needed to reach it.
constexpr std::string_view kClientsKey = R"(SOFTWARE\WOW6432Node\Microsoft\EdgeUpdate\Clients\)";
constexpr std::string_view kRuntimeClientId = "{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";
static_assert(kClientsKey.size() + kRuntimeClientId.size() == 88);

// Reads a value of key and accepts it only as text; the data itself is not looked at.
Result<void> read_text_value(HKEY key, const wchar_t* name) {
  std::vector<BYTE> data(2048);
  DWORD size = static_cast<DWORD>(data.size());
  DWORD type = REG_NONE;
  for (;;) {
    const LSTATUS status = ::RegQueryValueExW(key, name, nullptr, &type, data.data(), &size);
    if (status == ERROR_MORE_DATA) {
      // size now holds what the value needs; the next query offers that much.
      if (data.size() < size) data.resize(size);
      continue;
    }
    if (status != ERROR_SUCCESS) return std::unexpected(Error::os(static_cast<DWORD>(status)));
    break;
  }
  if (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ) {
    return std::unexpected(Error::os(ERROR_BAD_FILE_TYPE));
  }
  return Result<void>();
}

}  // namespace

bool probe_webview() {
  std::string key_path(kClientsKey);
  key_path += kRuntimeClientId;
  const std::u16string wide_key_path = utf16_from_wtf8(key_path);
  UniqueRegistryKey key;
  // KEY_READ alone: the path already says which registry view is meant.
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, as_wide(wide_key_path), 0, KEY_READ, key.put()) !=
      ERROR_SUCCESS) {
    return false;
  }
  return read_text_value(key.get(), L"pv").has_value();
}

}  // namespace brevlo
