#include "main/frame.hpp"

#include "platform/messages.hpp"
#include "platform/output.hpp"

namespace brevlo {

int run_and_finish(LaunchEnvironment& env) {
  int status;
  try {
    status = run_launch_sequence(env);
  } catch (FatalStop& stop) {
    // Everything the sequence held was released on the way here.
    release_fatal_stop(stop);
    status = kExitFatalStop;
  }
  output_cleanup();
  return status;
}

}  // namespace brevlo
