// The owner template with a value other than T{} for "none" and a close that carries state, as a
// descriptor or a close function found at run time needs.
#include "platform/unique_resource.hpp"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace brevlo {
namespace {

// Records what it closes in the log it was given; -1 is "no descriptor", as for POSIX files.
struct LoggingClose {
  std::vector<int>* log = nullptr;
  static constexpr int none() { return -1; }
  void operator()(int value) const { log->push_back(value); }
};
using Descriptor = UniqueResource<int, LoggingClose>;

TEST(UniqueResourceTest, NoneIsNotHeldAndZeroIs) {
  std::vector<int> closed;
  EXPECT_FALSE(Descriptor());
  EXPECT_EQ(Descriptor().get(), -1);
  EXPECT_FALSE(Descriptor(-1, {&closed}));
  { Descriptor zero(0, {&closed}); EXPECT_TRUE(zero); }
  EXPECT_EQ(closed, std::vector<int>{0});
}

TEST(UniqueResourceTest, EachValueIsClosedOnceWithItsOwnClose) {
  std::vector<int> first_log;
  std::vector<int> second_log;
  {
    Descriptor first(3, {&first_log});
    Descriptor second(4, {&second_log});
    second = std::move(first);  // 4 closes through its own log; 3 now closes through first_log's
    EXPECT_EQ(second_log, std::vector<int>{4});
    Descriptor third(std::move(second));
    EXPECT_EQ(third.release(), 3);
    third.reset(5);
    *third.put() = 6;  // put closes 5 first
  }
  EXPECT_EQ(first_log, (std::vector<int>{5, 6}));
  EXPECT_EQ(second_log, std::vector<int>{4});
}

}  // namespace
}  // namespace brevlo
