#include "platform/system_calls_win.hpp"

namespace brevlo {

DWORD WINAPI system_temp_path(DWORD size, LPWSTR buffer) {
  using GetTempPath2WFn = DWORD(WINAPI*)(DWORD, LPWSTR);
  // Looked up once per process; where kernel32 lacks it, GetTempPathW serves.
  static const GetTempPath2WFn function = [] {
    GetTempPath2WFn found = nullptr;
    if (HMODULE kernel32 = GetModuleHandleA("kernel32")) {
      found = reinterpret_cast<GetTempPath2WFn>(
          reinterpret_cast<void*>(GetProcAddress(kernel32, "GetTempPath2W")));
    }
    return found != nullptr ? found : &GetTempPathW;
  }();
  return function(size, buffer);
}

BOOLEAN WINAPI system_random(PVOID buffer, ULONG length) {
  using RtlGenRandomFn = BOOLEAN(WINAPI*)(PVOID, ULONG);
  static const RtlGenRandomFn function = [] {
    const HMODULE advapi32 = LoadLibraryExW(L"advapi32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (advapi32 == nullptr) return RtlGenRandomFn{};
    return reinterpret_cast<RtlGenRandomFn>(
        reinterpret_cast<void*>(GetProcAddress(advapi32, "SystemFunction036")));
  }();
  return function != nullptr && function(buffer, length);
}

SystemCalls& system_calls() {
  static SystemCalls calls;
  return calls;
}

}  // namespace brevlo
