# End-to-end tests of the built launcher (Windows build, run under Wine by CTest), and the checks of
# its executable form. Included from tests/CMakeLists.txt.

if(NOT TARGET brevlo)
  message(STATUS "e2e tests: no launcher target yet, skipped")
  return()
endif()

set(BREVLO_E2E_DIR "${CMAKE_CURRENT_BINARY_DIR}/e2e")

# The demo application, which the stand-in installer installs. It is built with the demo installer;
# a launcher around a publisher's installer needs its own copy for these tests.
if(NOT TARGET brevlo_demo_app)
  add_executable(brevlo_demo_app WIN32 "${CMAKE_SOURCE_DIR}/inputs/demo_app/demo_app.cpp")
  set_target_properties(brevlo_demo_app PROPERTIES
    OUTPUT_NAME Ostrevan
    RUNTIME_OUTPUT_DIRECTORY "${BREVLO_E2E_DIR}/demo")
  target_link_options(brevlo_demo_app PRIVATE -s)
  brevlo_warnings(brevlo_demo_app)
endif()

# The stand-in installer, and a launcher that embeds it in place of the real one.
add_executable(brevlo_e2e_stand_in WIN32 "${CMAKE_CURRENT_LIST_DIR}/stand_in_installer.cpp")
set_target_properties(brevlo_e2e_stand_in PROPERTIES
  OUTPUT_NAME stand_in_installer
  RUNTIME_OUTPUT_DIRECTORY "${BREVLO_E2E_DIR}")
target_link_options(brevlo_e2e_stand_in PRIVATE -s)
brevlo_warnings(brevlo_e2e_stand_in)
set(BREVLO_E2E_STAND_IN "${BREVLO_E2E_DIR}/stand_in_installer.exe")

# A launcher around the stand-in installer in the given folder, with the given game.json if one
# is named after the folder.
function(brevlo_add_stand_in_launcher target folder)
  brevlo_add_launcher(${target} "${BREVLO_E2E_STAND_IN}" brevlo_e2e_stand_in ${ARGN})
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${folder}")
  # The icon is made by a rule of src/; let the launcher of src/ bring it first.
  add_dependencies(${target} brevlo)
endfunction()

brevlo_add_stand_in_launcher(brevlo_e2e_stand_in_launcher "${BREVLO_E2E_DIR}")

# A GoogleTest program of end-to-end cases: the harness and the given sources, told where its
# scratch folder, the stand-in installer, its launcher and the demo application are. The scratch
# folder is a Windows path at the root of drive C: of the build tree's own Wine prefix, so the
# paths the tests make have the same length and form wherever the checkout lives.
function(brevlo_add_e2e_program target scratch)
  add_executable(${target} "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/e2e_support.cpp" ${ARGN})
  target_link_libraries(${target} PRIVATE ${BREVLO_GTEST})
  target_compile_definitions(${target} PRIVATE
    BREVLO_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    BREVLO_E2E_SCRATCH="${scratch}"
    BREVLO_E2E_STANDIN_LAUNCHER="$<TARGET_FILE:brevlo_e2e_stand_in_launcher>"
    BREVLO_E2E_STANDIN="${BREVLO_E2E_STAND_IN}"
    BREVLO_E2E_DEMO_APP="$<TARGET_FILE:brevlo_demo_app>")
  add_dependencies(${target} brevlo_e2e_stand_in_launcher brevlo_demo_app)
  brevlo_warnings(${target})
endfunction()

brevlo_add_e2e_program(brevlo_e2e_tests "C:/brevlo-e2e"
  "${CMAKE_CURRENT_LIST_DIR}/everyday_test.cpp"
  "${CMAKE_CURRENT_LIST_DIR}/installer_test.cpp"
  "${CMAKE_CURRENT_LIST_DIR}/cjk_product_test.cpp")
target_compile_definitions(brevlo_e2e_tests PRIVATE
  BREVLO_E2E_LAUNCHER="$<TARGET_FILE:brevlo>")
if(NOT BREVLO_INSTALLER)
  # The shipped launcher embeds the demo installer, which the first-run test runs silently.
  target_compile_definitions(brevlo_e2e_tests PRIVATE BREVLO_E2E_DEMO_INSTALLER)
endif()
add_dependencies(brevlo_e2e_tests brevlo)

# A launcher whose game.json names a product folder and an executable with spaces and CJK
# letters, around the stand-in installer.
brevlo_add_stand_in_launcher(brevlo_e2e_cjk_launcher "${BREVLO_E2E_DIR}"
  "${CMAKE_CURRENT_LIST_DIR}/game_cjk.json")
add_dependencies(brevlo_e2e_tests brevlo_e2e_cjk_launcher)
target_compile_definitions(brevlo_e2e_tests PRIVATE
  BREVLO_E2E_CJK_LAUNCHER="$<TARGET_FILE:brevlo_e2e_cjk_launcher>")

add_test(NAME e2e COMMAND brevlo_e2e_tests)
# The tests set and restore the runtime's registry value in the shared prefix; tests that touch
# the same value must not run at the same time.
set_tests_properties(e2e PROPERTIES RESOURCE_LOCK brevlo_webview_registry TIMEOUT 900)

# The console case once more, inside a terminal, where Wine gives the test a working console.
find_program(BREVLO_SCRIPT script)
if(BREVLO_SCRIPT)
  add_test(NAME e2e_console
    COMMAND "${CMAKE_CURRENT_LIST_DIR}/run_in_terminal.sh" "${BREVLO_E2E_DIR}/console.log"
            "${CMAKE_CROSSCOMPILING_EMULATOR}" "$<TARGET_FILE:brevlo_e2e_tests>"
            --gtest_filter=LauncherTest.WritesToAConsole --gtest_color=no)
  set_tests_properties(e2e_console PROPERTIES
    ENVIRONMENT BREVLO_E2E_REQUIRE_CONSOLE=1 RESOURCE_LOCK brevlo_webview_registry TIMEOUT 300)
endif()

# The launcher's form and resources; the linker map names its entry routine.
add_test(NAME pe_form
  COMMAND "${BREVLO_PYTHON}" "${CMAKE_CURRENT_LIST_DIR}/pe_form_test.py" "$<TARGET_FILE:brevlo>"
          "${BREVLO_GENERATED}/brevlo.map")
