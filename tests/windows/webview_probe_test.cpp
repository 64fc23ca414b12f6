#include "core/webview_probe_win.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/handle_win.hpp"

namespace brevlo {
namespace {

constexpr const wchar_t* kClientId = L"{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";
const std::wstring kRuntimeKey =
    std::wstring(L"SOFTWARE\\WOW6432Node\\Microsoft\\EdgeUpdate\\Clients\\") + kClientId;
const std::wstring kNativeViewKey =
    std::wstring(L"SOFTWARE\\Microsoft\\EdgeUpdate\\Clients\\") + kClientId;

bool key_exists(HKEY root, const std::wstring& path) {
  UniqueRegistryKey key;
  return ::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

struct SavedValue {
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

// Makes a registry key exist for one test and leaves the registry as it was found: the part of
// the path that had to be created is deleted again; in a key that was there before, "pv" gets
// its old type and data back (or is removed if it was missing).
class ScratchKey {
 public:
  ScratchKey(HKEY root, std::wstring path) : root_(root), path_(std::move(path)) {
    for (std::size_t cut = path_.find(L'\\'); ; cut = path_.find(L'\\', cut + 1)) {
      const std::wstring prefix = path_.substr(0, cut);
      if (!key_exists(root_, prefix)) {
        created_top_ = prefix;
        break;
      }
      if (cut == std::wstring::npos) break;
    }
    EXPECT_EQ(::RegCreateKeyExW(root_, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                key_.put(), nullptr),
              ERROR_SUCCESS);
    if (created_top_.empty()) {
      DWORD size = 0;
      DWORD type = 0;
      if (::RegQueryValueExW(key_.get(), L"pv", nullptr, &type, nullptr, &size) ==
          ERROR_SUCCESS) {
        saved_.emplace();
        saved_->type = type;
        saved_->data.resize(size);
        ::RegQueryValueExW(key_.get(), L"pv", nullptr, &type, saved_->data.data(), &size);
      }
    }
  }
  ~ScratchKey() {
    if (!created_top_.empty()) {
      key_.reset();
      ::RegDeleteTreeW(root_, created_top_.c_str());
    } else if (saved_) {
      ::RegSetValueExW(key_.get(), L"pv", 0, saved_->type, saved_->data.data(),
                       static_cast<DWORD>(saved_->data.size()));
    } else {
      ::RegDeleteValueW(key_.get(), L"pv");
    }
  }
  ScratchKey(const ScratchKey&) = delete;
  ScratchKey& operator=(const ScratchKey&) = delete;

  void set_pv(DWORD type, const void* data, DWORD size) {
    static const BYTE kNothing = 0;  // some systems refuse a null data pointer even for 0 bytes
    const BYTE* bytes = size == 0 ? &kNothing : static_cast<const BYTE*>(data);
    ASSERT_EQ(::RegSetValueExW(key_.get(), L"pv", 0, type, bytes, size), ERROR_SUCCESS);
  }
  void set_pv_text(DWORD type, const std::wstring& text) {
    set_pv(type, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  }
  void remove_pv() { ::RegDeleteValueW(key_.get(), L"pv"); }
  HKEY get() const { return key_.get(); }

 private:
  HKEY root_;
  std::wstring path_;
  std::wstring created_top_;
  std::optional<SavedValue> saved_;
  UniqueRegistryKey key_;
};

class WebViewProbeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (key_exists(HKEY_LOCAL_MACHINE, kRuntimeKey)) {
      GTEST_SKIP() << "the runtime's key already exists on this machine; the probe tests need "
                      "a machine without it";
    }
  }
};

TEST_F(WebViewProbeTest, MissingKeyIsFalse) { EXPECT_FALSE(probe_webview()); }

TEST_F(WebViewProbeTest, KeyWithoutValueIsFalse) {
  ScratchKey key(HKEY_LOCAL_MACHINE, kRuntimeKey);
  key.remove_pv();
  EXPECT_FALSE(probe_webview());
}

struct ValueCase {
  const char* what;
  DWORD type;
  std::vector<BYTE> data;
  bool ready;
};

void PrintTo(const ValueCase& c, std::ostream* os) { *os << c.what; }

std::vector<BYTE> utf16_bytes(const std::wstring& text, bool with_nul = true) {
  const BYTE* start = reinterpret_cast<const BYTE*>(text.c_str());
  return std::vector<BYTE>(start, start + (text.size() + (with_nul ? 1 : 0)) * sizeof(wchar_t));
}

class WebViewValueTest : public WebViewProbeTest,
                         public ::testing::WithParamInterface<ValueCase> {};

TEST_P(WebViewValueTest, OnlyTextTypesCount) {
  const ValueCase& c = GetParam();
  ScratchKey key(HKEY_LOCAL_MACHINE, kRuntimeKey);
  key.set_pv(c.type, c.data.data(), static_cast<DWORD>(c.data.size()));
  EXPECT_EQ(probe_webview(), c.ready);
}

INSTANTIATE_TEST_SUITE_P(
    Types, WebViewValueTest,
    ::testing::Values(
        ValueCase{"REG_SZ empty", REG_SZ, {}, true},
        ValueCase{"REG_SZ only NUL", REG_SZ, utf16_bytes(L""), true},
        ValueCase{"REG_SZ version", REG_SZ, utf16_bytes(L"120.0.2210.91"), true},
        ValueCase{"REG_SZ zero version", REG_SZ, utf16_bytes(L"0.0.0.0"), true},
        ValueCase{"REG_SZ odd byte count", REG_SZ, {0x41, 0x00, 0x42}, true},
        ValueCase{"REG_SZ unpaired surrogate", REG_SZ, utf16_bytes(std::wstring(1, L'\xD800')),
                  true},
        ValueCase{"REG_SZ longer than 2048 bytes", REG_SZ,
                  utf16_bytes(std::wstring(3000, L'9')), true},
        ValueCase{"REG_EXPAND_SZ", REG_EXPAND_SZ, utf16_bytes(L"%ProgramFiles%"), true},
        ValueCase{"REG_MULTI_SZ", REG_MULTI_SZ, utf16_bytes(std::wstring(L"1.0\0two\0", 8)),
                  true},
        ValueCase{"REG_NONE", REG_NONE, utf16_bytes(L"1.0"), false},
        ValueCase{"REG_BINARY", REG_BINARY, {1, 2, 3}, false},
        ValueCase{"REG_DWORD", REG_DWORD, {1, 0, 0, 0}, false},
        ValueCase{"REG_QWORD", REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0}, false},
        ValueCase{"type above REG_QWORD", 12, utf16_bytes(L"1.0"), false},
        ValueCase{"REG_BINARY longer than 2048 bytes", REG_BINARY, std::vector<BYTE>(5000, 7),
                  false}));

TEST_F(WebViewProbeTest, KeyOnlyForTheCurrentUserIsFalse) {
  ScratchKey key(HKEY_CURRENT_USER, kRuntimeKey);
  key.set_pv_text(REG_SZ, L"1.0");
  EXPECT_FALSE(probe_webview());
}

TEST_F(WebViewProbeTest, KeyOnlyOutsideTheThirtyTwoBitBranchIsFalse) {
  if (key_exists(HKEY_LOCAL_MACHINE, kNativeViewKey)) {
    GTEST_SKIP() << "the key outside WOW6432Node already exists on this machine";
  }
  ScratchKey key(HKEY_LOCAL_MACHINE, kNativeViewKey);
  key.set_pv_text(REG_SZ, L"1.0");
  EXPECT_FALSE(probe_webview());
}

TEST_F(WebViewProbeTest, UnreadableKeyIsFalse) {
  ScratchKey key(HKEY_LOCAL_MACHINE, kRuntimeKey);
  key.set_pv_text(REG_SZ, L"1.0");
  ASSERT_TRUE(probe_webview());
  // An empty access list grants nobody anything; the owner may still change the list back.
  SECURITY_DESCRIPTOR denied{};
  ACL empty{};
  ASSERT_TRUE(::InitializeSecurityDescriptor(&denied, SECURITY_DESCRIPTOR_REVISION));
  ASSERT_TRUE(::InitializeAcl(&empty, sizeof(empty), ACL_REVISION));
  ASSERT_TRUE(::SetSecurityDescriptorDacl(&denied, TRUE, &empty, FALSE));
  ASSERT_EQ(::RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, &denied), ERROR_SUCCESS);
  const bool ready = probe_webview();
  UniqueRegistryKey check;
  const LSTATUS opened =
      ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRuntimeKey.c_str(), 0, KEY_READ, check.put());
  check.reset();
  SECURITY_DESCRIPTOR open_to_all{};
  ::InitializeSecurityDescriptor(&open_to_all, SECURITY_DESCRIPTOR_REVISION);
  ::SetSecurityDescriptorDacl(&open_to_all, TRUE, nullptr, FALSE);
  ::RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, &open_to_all);
  if (opened == ERROR_SUCCESS) {
    GTEST_SKIP() << "the system does not enforce the key's access list here";
  }
  EXPECT_FALSE(ready);
}

// --- where the registry calls come from ---------------------------------------------------

// Stand-ins for the module lookups of an older system: a kernelbase without the registry calls
// (this program's own module, which exports nothing), and the search flag refused with the case's
// error; every load is recorded and, unless refused, made for real.
DWORD g_flag_error = 0;
std::vector<std::wstring> g_loads;

HMODULE WINAPI kernelbase_without_calls(LPCWSTR name) {
  return ::lstrcmpiW(name, L"kernelbase.dll") == 0 ? ::GetModuleHandleW(nullptr)
                                                   : ::GetModuleHandleW(name);
}

HMODULE WINAPI recorded_load(LPCWSTR name, HANDLE file, DWORD flags) {
  g_loads.push_back(std::wstring(name) + L" " + std::to_wstring(flags));
  if (flags == LOAD_LIBRARY_SEARCH_SYSTEM32 && g_flag_error != 0) {
    ::SetLastError(g_flag_error);
    return nullptr;
  }
  return ::LoadLibraryExW(name, file, flags);
}

struct SourceCase {
  const char* what;
  bool kernelbase_has_calls;
  DWORD flag_error;  // 0: the flag is understood
  std::size_t loads;  // 1: by name with the flag; 2: then by full path in the system directory
  bool reads_registry;
};

void PrintTo(const SourceCase& c, std::ostream* os) { *os << c.what; }

class RegistryCallSource : public WebViewProbeTest,
                           public ::testing::WithParamInterface<SourceCase> {};

TEST_P(RegistryCallSource, ProbeReadsTheRegistryThroughWhatItFinds) {
  const SourceCase& c = GetParam();
  g_flag_error = c.flag_error;
  g_loads.clear();
  ModuleLookup lookup;
  if (!c.kernelbase_has_calls) lookup.loaded_module = kernelbase_without_calls;
  lookup.load_library = recorded_load;
  ScratchKey key(HKEY_LOCAL_MACHINE, kRuntimeKey);
  key.set_pv_text(REG_SZ, L"1.0");
  EXPECT_EQ(probe_webview(lookup), c.reads_registry);
  key.remove_pv();
  EXPECT_FALSE(probe_webview(lookup));

  // Each probe looks its calls up afresh.
  wchar_t system[MAX_PATH];
  const UINT n = ::GetSystemDirectoryW(system, MAX_PATH);
  const std::wstring loads[] = {L"advapi32.dll 2048",
                                std::wstring(system, n) + L"\\advapi32.dll 0"};
  std::vector<std::wstring> expected(loads, loads + c.loads);
  expected.insert(expected.end(), loads, loads + c.loads);
  EXPECT_EQ(g_loads, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Systems, RegistryCallSource,
    ::testing::Values(
        SourceCase{"kernelbase has them", true, 0, 0, true},
        SourceCase{"advapi32 by name from the system directory", false, 0, 1, true},
        SourceCase{"search flag refused, advapi32 by full path", false, ERROR_INVALID_PARAMETER,
                   2, true},
        SourceCase{"advapi32 not found", false, ERROR_MOD_NOT_FOUND, 1, false}));

}  // namespace
}  // namespace brevlo
