#pragma once
// The end of a run in a launcher packed with --support-log or --failure-dialog (Windows).

#include "core/payload.hpp"
#include "core/windows_environment_win.hpp"

namespace brevlo {

// Runs as run_and_finish does, keeping a copy of what is printed; then, as options ask, appends
// the run to %TEMP%\<productName>-launcher.log and, after a failure (status 1 or 101) in a
// process without a standard error handle, shows the failure in a message box. Neither changes
// the status, and neither is reported when it cannot be done.
int run_and_report(WindowsLaunchEnvironment& env, const PackOptions& options);

}  // namespace brevlo
