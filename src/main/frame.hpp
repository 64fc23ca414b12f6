#pragma once
// The end of every run: the launch sequence, a fatal stop caught, the output clean-up.

#include "main/launch.hpp"

namespace brevlo {

// Runs the launch sequence, turns a fatal stop into status 101, runs the output clean-up once
// and returns the exit status (0, 1 or 101).
int run_and_finish(LaunchEnvironment& env);

}  // namespace brevlo
