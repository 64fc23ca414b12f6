# CTest's limits, scaled by the same knob as the tests' own waits: BREVLO_TEST_TIME_SCALE, a whole
# number of at least 1 (1 when unset), read from the environment when the build is configured.
# Each test gets that value in its environment too, so the limits inside a test and CTest's limit
# around it always grow together. A CTest limit is there for a genuine hang and lies well above
# the test's own waits.
set(BREVLO_TEST_TIME_SCALE "$ENV{BREVLO_TEST_TIME_SCALE}")
if(BREVLO_TEST_TIME_SCALE STREQUAL "")
  set(BREVLO_TEST_TIME_SCALE 1)
endif()
if(NOT BREVLO_TEST_TIME_SCALE MATCHES "^[1-9][0-9]*$" OR BREVLO_TEST_TIME_SCALE GREATER 1000)
  message(FATAL_ERROR
    "BREVLO_TEST_TIME_SCALE=${BREVLO_TEST_TIME_SCALE} is not a whole number from 1 to 1000")
endif()

# brevlo_test_time_limit(SECONDS test...): CTest ends each test after SECONDS times the scale.
function(brevlo_test_time_limit seconds)
  math(EXPR limit "${seconds} * ${BREVLO_TEST_TIME_SCALE}")
  set_tests_properties(${ARGN} PROPERTIES TIMEOUT ${limit})
  set_property(TEST ${ARGN} APPEND PROPERTY ENVIRONMENT
    "BREVLO_TEST_TIME_SCALE=${BREVLO_TEST_TIME_SCALE}")
endfunction()
