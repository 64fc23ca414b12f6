#pragma once
// A scratch machine for one fault: LOCALAPPDATA, TEMP and a working folder of its own, the
// runtime not registered, and a launcher around the stand-in installer. Each test changes the
// one thing its fault is about.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "../e2e/e2e_support.hpp"

namespace brevlo::e2e {

class FaultTest : public ScratchMachine {
 protected:
  void SetUp() override {
    make_machine("", "mark " + current_test_name(), true);
    use_stand_in(BREVLO_E2E_STANDIN_LAUNCHER);
    ASSERT_NO_FATAL_FAILURE(read_image());
    ASSERT_TRUE(runtime_.ok());
  }

  std::string installer_ran_plainly() const {
    return narrow(L"\"" + installer_.wstring() + L"\"");
  }

  RuntimeRegistration runtime_{false};
};

// Faults whose set-up happens on the build machine's side (a mount, a symbolic link): their CTest
// tests are driven by linux_side.sh, which prepares the fault, names it in the environment and runs
// just that case.
class LinuxSideFault : public FaultTest {};

}  // namespace brevlo::e2e
