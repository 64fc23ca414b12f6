# Every case of a GoogleTest program its own CTest test, PREFIX.Suite.Case (PREFIX.Suite/Row.Case/Row
# for a table), so that `ctest -R` picks cases and a failure names its case. The list is read from
# the program when CTest runs (DISCOVERY_MODE PRE_TEST), not at every build; in the Windows build
# it runs under the build's emulator (Wine), as the cases do.
include(GoogleTest)

# brevlo_gtest_cases(TARGET PREFIX SECONDS [FILTER GTEST_FILTER] [PROPERTIES NAME VALUE...]):
# the cases of TARGET that GTEST_FILTER selects (all when not given), each ended by CTest after
# SECONDS times the tests' time scale (tests/common/time_limit.cmake), with the scale in its
# environment and the further test properties given.
function(brevlo_gtest_cases target prefix seconds)
  cmake_parse_arguments(PARSE_ARGV 3 arg "" "FILTER" "PROPERTIES")
  math(EXPR limit "${seconds} * ${BREVLO_TEST_TIME_SCALE}")
  # Listing the cases starts the program once; under Wine the first start in a fresh session
  # takes a few seconds.
  math(EXPR listing "120 * ${BREVLO_TEST_TIME_SCALE}")
  if(CMAKE_CROSSCOMPILING_EMULATOR)
    set_property(TARGET ${target} PROPERTY CROSSCOMPILING_EMULATOR
      /bin/sh "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/gtest_cases.sh" ${CMAKE_CROSSCOMPILING_EMULATOR})
  endif()
  set(filter)
  if(DEFINED arg_FILTER)
    set(filter TEST_FILTER "${arg_FILTER}")
  endif()
  gtest_discover_tests(${target}
    TEST_PREFIX "${prefix}."
    ${filter}
    NO_PRETTY_VALUES
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT ${listing}
    PROPERTIES
      TIMEOUT ${limit}
      ENVIRONMENT "BREVLO_TEST_TIME_SCALE=${BREVLO_TEST_TIME_SCALE}"
      ${arg_PROPERTIES})
endfunction()
