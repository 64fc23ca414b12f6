#pragma once
// How long a test waits for what it cannot wait on directly. Every limit is a base (about a
// minute) times one knob, BREVLO_TEST_TIME_SCALE: a whole number of at least 1, 1 when unset, for
// machines so slow or so loaded that a minute is not enough. A limit only ends a wait that has
// gone wrong; reaching it is a failure that names what was waited for.
//
// Header-only and free of the test framework, so that the small programs the tests start (the
// stand-in installer, say) scale their own waits the same way.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace brevlo::test_time {

inline constexpr std::chrono::seconds kBaseLimit{60};

// The knob's value. A value that is not a whole number from 1 to 1000 stops the program with a
// line naming it rather than being read as something else.
inline int scale() {
  static const int value = [] {
    const char* text = std::getenv("BREVLO_TEST_TIME_SCALE");
    if (text == nullptr || *text == '\0') return 1;
    char* end = nullptr;
    const long parsed = std::strtol(text, &end, 10);
    if (*end != '\0' || parsed < 1 || parsed > 1000) {
      std::fprintf(stderr, "BREVLO_TEST_TIME_SCALE=%s is not a whole number from 1 to 1000\n",
                   text);
      std::exit(2);
    }
    return static_cast<int>(parsed);
  }();
  return value;
}

// The base scaled by the knob.
inline std::chrono::milliseconds limit(std::chrono::seconds base = kBaseLimit) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(base) * scale();
}

// The limit in milliseconds for the system's wait functions.
inline unsigned long limit_ms(std::chrono::seconds base = kBaseLimit) {
  return static_cast<unsigned long>(limit(base).count());
}

// "60 s": a limit as failure messages show it.
inline std::string shown(std::chrono::milliseconds limit) {
  return std::to_string(std::chrono::duration_cast<std::chrono::seconds>(limit).count()) + " s";
}

}  // namespace brevlo::test_time
