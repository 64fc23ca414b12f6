#pragma once
// The launch sequence: probe, read the configuration, then launch or install.

#include "core/launch_environment.hpp"

namespace brevlo {

// Exit statuses of a run that ends normally.
inline constexpr int kExitStarted = 0;          // the application was started
inline constexpr int kExitFailureReported = 1;  // a failure line was printed, nothing started
inline constexpr int kExitFatalStop = 101;      // a fatal stop ended the run

// Runs the whole decision flow once and returns the exit status for a normal end. A fatal stop
// leaves by the FatalStop exception instead.
int run_launch_sequence(LaunchEnvironment& env);

}  // namespace brevlo
