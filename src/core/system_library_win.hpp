#pragma once
// Loading a system DLL by name from the system directory only, never from the launcher's folder
// or the current directory.

#include "platform/windows_api_win.hpp"

namespace brevlo {

// How a module is reached: the system's own calls, or a test's stand-ins.
struct ModuleLookup {
  decltype(&::GetModuleHandleW) loaded_module = ::GetModuleHandleW;
  decltype(&::LoadLibraryExW) load_library = ::LoadLibraryExW;
};

// The module name (e.g. L"bcrypt.dll") loaded with LOAD_LIBRARY_SEARCH_SYSTEM32, or, where the
// system refuses that flag (Windows 6.0 and 6.1 without update KB2533623), by its full path in the
// system directory; null when neither loads it. The module stays loaded for the process.
HMODULE load_system_library(const ModuleLookup& lookup, const wchar_t* name);

// Sets function to the export name of module; false, leaving it null, when module is null or does
// not export it.
template <class F>
bool find_call(HMODULE module, const char* name, F& function) {
  function = nullptr;
  if (module == nullptr) return false;
  function = reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
  return function != nullptr;
}

}  // namespace brevlo
