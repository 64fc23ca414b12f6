#pragma once
// Whether the WebView2 runtime that the application needs is registered on the machine.

#include "core/system_library_win.hpp"

namespace brevlo {

// True exactly when HKLM\SOFTWARE\WOW6432Node\Microsoft\EdgeUpdate\Clients\{F3017226-...}
// holds a value "pv" of a text type (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ), whatever its content.
// Only reads the registry; every failure is false and is not reported.
bool probe_webview();

// The same probe with its registry calls looked up afresh through lookup, so that a test can walk
// the way that older systems take.
bool probe_webview(const ModuleLookup& lookup);

}  // namespace brevlo
