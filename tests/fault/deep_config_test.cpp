// A launcher whose game.json holds, under a key it does not read, arrays nested 1,048,576 deep
// (made by make_deep_config.py at build time, about 2 MiB): the build's check accepted it, and
// the launcher reads past it on its 1 MiB main-thread stack and runs as usual.
#include <string>

#include "fault_fixture.hpp"

namespace brevlo::e2e {
namespace {

class DeepConfig : public FaultTest {};

TEST_F(DeepConfig, NestingUnderAnUnknownKeyIsSkipped) {
  const auto config = read_file(windows_path(BREVLO_FAULT_DEEP_CONFIG));
  ASSERT_TRUE(config.has_value());
  ASSERT_EQ(config->find(std::string(1048576, '[') + std::string(1048576, ']')), 9u)
      << "the document does not nest 1,048,576 arrays under \"deep\"";

  options_.program = windows_path(BREVLO_FAULT_DEEP_LAUNCHER);
  place_app(app_);
  const RunResult run = run_program(options_, folder_);
  EXPECT_EQ(run.out, std::string(kProbeFalse) + kFoundInstalled + kAppStarted);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.exit_code, kExitStarted);
  expect_app_ran(app_);
  EXPECT_FALSE(fs::exists(installer_));
}

}  // namespace
}  // namespace brevlo::e2e
