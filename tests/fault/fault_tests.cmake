# The fault matrix: the launcher under faults of its environment, its file system and its output,
# each run end to end under Wine (Windows build). Included from tests/CMakeLists.txt after the
# end-to-end tests, whose harness, stand-in installer and demo application it uses.

if(NOT TARGET brevlo_e2e_stand_in_launcher)
  message(FATAL_ERROR "fault tests: there is no end-to-end harness "
                      "(brevlo_e2e_stand_in_launcher of tests/e2e/e2e_tests.cmake)")
endif()

set(BREVLO_FAULT_DIR "${CMAKE_CURRENT_BINARY_DIR}/fault")

# Launchers around the stand-in installer whose game.json holds a product name with "..", one
# with a forward slash, and one nested 1,048,576 arrays deep under a key the launcher skips.
set(BREVLO_FAULT_DEEP_CONFIG "${BREVLO_FAULT_DIR}/game_deep.json")
add_custom_command(
  OUTPUT "${BREVLO_FAULT_DEEP_CONFIG}"
  COMMAND "${BREVLO_PYTHON}" "${CMAKE_CURRENT_LIST_DIR}/make_deep_config.py"
          "${BREVLO_FAULT_DEEP_CONFIG}" 1048576
  DEPENDS "${CMAKE_CURRENT_LIST_DIR}/make_deep_config.py"
  COMMENT "Making a game.json nested 1,048,576 arrays deep")

foreach(variant dotdot slash deep)
  if(variant STREQUAL "deep")
    set(config "${BREVLO_FAULT_DEEP_CONFIG}")
  else()
    set(config "${CMAKE_CURRENT_LIST_DIR}/game_${variant}.json")
  endif()
  brevlo_add_stand_in_launcher(brevlo_fault_${variant}_launcher "${BREVLO_FAULT_DIR}" CONFIG "${config}")
endforeach()

brevlo_add_e2e_program(brevlo_fault_tests "C:/brevlo-fault"
  "${CMAKE_CURRENT_LIST_DIR}/path_fault_test.cpp"
  "${CMAKE_CURRENT_LIST_DIR}/temp_fault_test.cpp"
  "${CMAKE_CURRENT_LIST_DIR}/removal_fault_test.cpp"
  "${CMAKE_CURRENT_LIST_DIR}/output_fault_test.cpp"
  "${CMAKE_CURRENT_LIST_DIR}/deep_config_test.cpp")
target_compile_definitions(brevlo_fault_tests PRIVATE
  BREVLO_FAULT_DOTDOT_LAUNCHER="$<TARGET_PROPERTY:brevlo_fault_dotdot_launcher,BREVLO_LAUNCHER_FILE>"
  BREVLO_FAULT_SLASH_LAUNCHER="$<TARGET_PROPERTY:brevlo_fault_slash_launcher,BREVLO_LAUNCHER_FILE>"
  BREVLO_FAULT_DEEP_LAUNCHER="$<TARGET_PROPERTY:brevlo_fault_deep_launcher,BREVLO_LAUNCHER_FILE>"
  BREVLO_FAULT_DEEP_CONFIG="${BREVLO_FAULT_DEEP_CONFIG}")
add_dependencies(brevlo_fault_tests
  brevlo_fault_dotdot_launcher brevlo_fault_slash_launcher brevlo_fault_deep_launcher)

# fault.Suite.Case: every case that needs no set-up on the build machine's side. The cases set and
# restore the runtime's registry value in the shared prefix, one at a time.
brevlo_gtest_cases(brevlo_fault_tests fault 900 FILTER -LinuxSideFault.*
  PROPERTIES RESOURCE_LOCK brevlo_webview_registry)

# The cases whose fault is made on the build machine's side: a small mounted disk and a dangling
# symbolic link, each in a folder at the root of drive C: of the prefix, like the scratch folders.
# linux_side.sh fails where the machine does not allow the set-up, and skips (77) with the reason
# where the case skipped itself.
set(BREVLO_FAULT_LINUX_SIDE "${CMAKE_CURRENT_LIST_DIR}/linux_side.sh")
foreach(fault small-disk dangling-link)
  string(REPLACE "-" "_" name "${fault}")
  add_test(NAME fault_${name}
    COMMAND /bin/sh "${BREVLO_FAULT_LINUX_SIDE}" ${fault} "${BREVLO_WINEPREFIX}/drive_c"
            brevlo-fault-${fault} "${CMAKE_CROSSCOMPILING_EMULATOR}"
            "$<TARGET_FILE:brevlo_fault_tests>")
endforeach()
set_tests_properties(fault_small_disk fault_dangling_link PROPERTIES
  SKIP_RETURN_CODE 77 RESOURCE_LOCK brevlo_webview_registry)
brevlo_test_time_limit(300 fault_small_disk fault_dangling_link)

# The build's own check of the deep document, run again: it accepts it and reads the two keys.
add_test(NAME fault_deep_config_check
  COMMAND /bin/sh "${BREVLO_FAULT_LINUX_SIDE}" check-config "${BREVLO_FAULT_DEEP_CONFIG}"
          "${BREVLO_HOST_CHECK_CONFIG}")
brevlo_test_time_limit(120 fault_deep_config_check)
