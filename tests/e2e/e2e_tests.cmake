# End-to-end tests of the built launcher (Windows build, run under Wine by CTest), and the checks of
# its executable form. Included from tests/CMakeLists.txt.

if(NOT TARGET brevlo)
  message(FATAL_ERROR "end-to-end tests: there is no launcher target brevlo "
                      "(src/main/launcher.cmake defines it)")
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

# A launcher around the stand-in installer in the given folder; further arguments go to
# brevlo_add_launcher (CONFIG game.json, PACK_OPTIONS ...).
function(brevlo_add_stand_in_launcher target folder)
  brevlo_add_launcher(${target} "${BREVLO_E2E_STAND_IN}" brevlo_e2e_stand_in
    OUTPUT "${folder}/${target}.exe" ${ARGN})
endfunction()

brevlo_add_stand_in_launcher(brevlo_e2e_stand_in_launcher "${BREVLO_E2E_DIR}")

# A GoogleTest program of end-to-end cases: the harness and the given sources, told where its
# scratch folder, the stand-in installer, its launcher and the demo application are. The scratch
# folder is a Windows path at the root of drive C: of the build tree's own Wine prefix, so the
# paths the tests make have the same length and form wherever the checkout lives.
function(brevlo_add_e2e_program target scratch)
  add_executable(${target} "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/e2e_support.cpp" ${ARGN})
  target_link_libraries(${target} PRIVATE ${BREVLO_GTEST})
  brevlo_allow_duplicate_type_info(${target})
  target_compile_definitions(${target} PRIVATE
    BREVLO_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    BREVLO_E2E_SCRATCH="${scratch}"
    BREVLO_E2E_STANDIN_LAUNCHER="$<TARGET_PROPERTY:brevlo_e2e_stand_in_launcher,BREVLO_LAUNCHER_FILE>"
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
  BREVLO_E2E_LAUNCHER="$<TARGET_PROPERTY:brevlo,BREVLO_LAUNCHER_FILE>"
  BREVLO_E2E_STUB="$<TARGET_FILE:brevlo-stub>")
if(NOT BREVLO_INSTALLER)
  # The shipped launcher embeds the demo installer, which the first-run test runs silently.
  target_compile_definitions(brevlo_e2e_tests PRIVATE BREVLO_E2E_DEMO_INSTALLER)
endif()
add_dependencies(brevlo_e2e_tests brevlo)
# CheckSumMappedFile: the damaged-image test makes the PE checksum right again.
target_link_libraries(brevlo_e2e_tests PRIVATE imagehlp)

# A launcher around a 256 MiB installer, the size of a real game's: the stand-in installer followed
# by zeros (data after its image, which the system's loader ignores), made by the build in the
# build tree.
set(BREVLO_E2E_LARGE_INSTALLER "${BREVLO_E2E_DIR}/large/stand_in_256mib.exe")
add_custom_command(
  OUTPUT "${BREVLO_E2E_LARGE_INSTALLER}"
  COMMAND "${CMAKE_COMMAND}" -E make_directory "${BREVLO_E2E_DIR}/large"
  COMMAND "${CMAKE_COMMAND}" -E copy "${BREVLO_E2E_STAND_IN}" "${BREVLO_E2E_LARGE_INSTALLER}"
  COMMAND truncate -s 256M "${BREVLO_E2E_LARGE_INSTALLER}"
  DEPENDS brevlo_e2e_stand_in
  COMMENT "Making a 256 MiB stand-in installer")
add_custom_target(brevlo_e2e_large_installer DEPENDS "${BREVLO_E2E_LARGE_INSTALLER}")
brevlo_add_launcher(brevlo_e2e_large_launcher "${BREVLO_E2E_LARGE_INSTALLER}"
  brevlo_e2e_large_installer OUTPUT "${BREVLO_E2E_DIR}/large/brevlo_e2e_large_launcher.exe")
add_dependencies(brevlo_e2e_tests brevlo_e2e_large_launcher)
target_compile_definitions(brevlo_e2e_tests PRIVATE
  BREVLO_E2E_LARGE_LAUNCHER="$<TARGET_PROPERTY:brevlo_e2e_large_launcher,BREVLO_LAUNCHER_FILE>")

# A launcher whose game.json names a product folder and an executable with spaces and CJK
# letters, around the stand-in installer.
brevlo_add_stand_in_launcher(brevlo_e2e_cjk_launcher "${BREVLO_E2E_DIR}"
  CONFIG "${CMAKE_CURRENT_LIST_DIR}/game_cjk.json")
add_dependencies(brevlo_e2e_tests brevlo_e2e_cjk_launcher)
target_compile_definitions(brevlo_e2e_tests PRIVATE
  BREVLO_E2E_CJK_LAUNCHER="$<TARGET_PROPERTY:brevlo_e2e_cjk_launcher,BREVLO_LAUNCHER_FILE>")

# A launcher with the publisher's branding: a three-image icon, CJK strings and a version.
set(BREVLO_E2E_ICON "${BREVLO_E2E_DIR}/branding/game.ico")
add_custom_command(
  OUTPUT "${BREVLO_E2E_ICON}"
  COMMAND "${CMAKE_COMMAND}" -E make_directory "${BREVLO_E2E_DIR}/branding"
  COMMAND "${BREVLO_PYTHON}" "${CMAKE_CURRENT_LIST_DIR}/make_multi_icon.py" "${BREVLO_E2E_ICON}"
  DEPENDS "${CMAKE_CURRENT_LIST_DIR}/make_multi_icon.py"
  COMMENT "Making a three-image icon")
add_custom_target(brevlo_e2e_icon DEPENDS "${BREVLO_E2E_ICON}")
set(BREVLO_E2E_BRANDING --icon "${BREVLO_E2E_ICON}" --product-name "奥斯特雷文 游戏"
  --file-description "Ostrevan 启动器 ✓" --version 2.5.0.17)
brevlo_add_stand_in_launcher(brevlo_e2e_branded_launcher "${BREVLO_E2E_DIR}"
  PACK_OPTIONS ${BREVLO_E2E_BRANDING})
add_dependencies(brevlo_e2e_branded_launcher brevlo_e2e_icon)

# Launchers packed with the run-time options: one with both (failures in a message box, the
# support log), and the branded one with the message box, whose title is the branded name.
brevlo_add_stand_in_launcher(brevlo_e2e_report_launcher "${BREVLO_E2E_DIR}"
  PACK_OPTIONS --failure-dialog --support-log)
brevlo_add_stand_in_launcher(brevlo_e2e_branded_dialog_launcher "${BREVLO_E2E_DIR}"
  PACK_OPTIONS ${BREVLO_E2E_BRANDING} --failure-dialog)
add_dependencies(brevlo_e2e_branded_dialog_launcher brevlo_e2e_icon)

# Starts a program without standard handles, as Explorer does.
add_executable(brevlo_e2e_start_without_handles "${CMAKE_CURRENT_LIST_DIR}/start_without_handles.cpp")
set_target_properties(brevlo_e2e_start_without_handles PROPERTIES
  OUTPUT_NAME start_without_handles
  RUNTIME_OUTPUT_DIRECTORY "${BREVLO_E2E_DIR}")
target_link_libraries(brevlo_e2e_start_without_handles PRIVATE shell32)
brevlo_warnings(brevlo_e2e_start_without_handles)

# The failure dialog on a virtual X display: shown for a reported failure and a fatal stop when
# the launcher has no standard error handle, titled with the product name; not shown without the
# option, nor with standard error in a file. Screenshots are kept in e2e/dialog.
add_test(NAME failure_dialog
  COMMAND "${BREVLO_PYTHON}" "${CMAKE_CURRENT_LIST_DIR}/failure_dialog_test.py"
          --wine "${CMAKE_CROSSCOMPILING_EMULATOR}" --prefix "${BREVLO_WINEPREFIX}"
          --starter "$<TARGET_FILE:brevlo_e2e_start_without_handles>"
          --report "$<TARGET_PROPERTY:brevlo_e2e_report_launcher,BREVLO_LAUNCHER_FILE>"
          --branded "$<TARGET_PROPERTY:brevlo_e2e_branded_dialog_launcher,BREVLO_LAUNCHER_FILE>"
          --plain "$<TARGET_PROPERTY:brevlo_e2e_stand_in_launcher,BREVLO_LAUNCHER_FILE>"
          --source "${CMAKE_SOURCE_DIR}" --artefacts "${BREVLO_E2E_DIR}/dialog")
# Alone: it waits for the prefix's Wine server to end and starts one on its own display.
set_tests_properties(failure_dialog PROPERTIES RUN_SERIAL TRUE)
brevlo_test_time_limit(900 failure_dialog)

# A launcher signed through the build with a throwaway certificate made for the tests.
set(BREVLO_E2E_CERT_DIR "${BREVLO_E2E_DIR}/certificate")
add_custom_command(
  OUTPUT "${BREVLO_E2E_CERT_DIR}/signer.pfx" "${BREVLO_E2E_CERT_DIR}/password.txt"
         "${BREVLO_E2E_CERT_DIR}/ca.pem"
  COMMAND sh "${CMAKE_CURRENT_LIST_DIR}/make_test_certificate.sh" "${BREVLO_E2E_CERT_DIR}"
  DEPENDS "${CMAKE_CURRENT_LIST_DIR}/make_test_certificate.sh"
  COMMENT "Making a throwaway code-signing certificate")
add_custom_target(brevlo_e2e_certificate DEPENDS "${BREVLO_E2E_CERT_DIR}/signer.pfx")
brevlo_add_stand_in_launcher(brevlo_e2e_signed_launcher "${BREVLO_E2E_DIR}"
  SIGN_PKCS12 "${BREVLO_E2E_CERT_DIR}/signer.pfx"
  SIGN_PASSWORD_FILE "${BREVLO_E2E_CERT_DIR}/password.txt"
  SIGN_DEPENDS brevlo_e2e_certificate)

add_dependencies(brevlo_e2e_tests brevlo_e2e_branded_launcher brevlo_e2e_signed_launcher
  brevlo_e2e_report_launcher brevlo_e2e_branded_dialog_launcher brevlo_e2e_start_without_handles)
target_compile_definitions(brevlo_e2e_tests PRIVATE
  BREVLO_E2E_REPORT_LAUNCHER="$<TARGET_PROPERTY:brevlo_e2e_report_launcher,BREVLO_LAUNCHER_FILE>"
  BREVLO_VERSION_TEXT="${PROJECT_VERSION}"
  BREVLO_E2E_BRANDED_LAUNCHER="$<TARGET_PROPERTY:brevlo_e2e_branded_launcher,BREVLO_LAUNCHER_FILE>"
  BREVLO_E2E_SIGNED_LAUNCHER="$<TARGET_PROPERTY:brevlo_e2e_signed_launcher,BREVLO_LAUNCHER_FILE>")

# The signature: it verifies, breaks with one byte of the installer changed, and packing the
# signed launcher again gives the unsigned launcher back, which signs and verifies again.
add_test(NAME signing
  COMMAND sh "${CMAKE_CURRENT_LIST_DIR}/signing_test.sh" "${BREVLO_E2E_DIR}/signing"
          "$<TARGET_PROPERTY:brevlo_e2e_signed_launcher,BREVLO_LAUNCHER_FILE>"
          "${BREVLO_GENERATED}/brevlo_e2e_signed_launcher.unsigned.exe" "${BREVLO_E2E_CERT_DIR}"
          "${BREVLO_HOST_PACK}" "${BREVLO_E2E_STAND_IN}" "${BREVLO_GAME_CONFIG}"
          "${BREVLO_PYTHON}")
brevlo_test_time_limit(300 signing)

# e2e.Suite.Case. The cases set and restore the runtime's registry value in the shared prefix and
# share its game folder and temporary folder; cases that touch them must not run at the same time.
brevlo_gtest_cases(brevlo_e2e_tests e2e 1200 PROPERTIES RESOURCE_LOCK brevlo_webview_registry)

# The console case once more, inside a terminal, where Wine gives the test a working console
# (script(1), of util-linux).
find_program(BREVLO_SCRIPT script REQUIRED)
add_test(NAME e2e_console
  COMMAND "${CMAKE_CURRENT_LIST_DIR}/run_in_terminal.sh" "${BREVLO_E2E_DIR}/console.log"
          "${CMAKE_CROSSCOMPILING_EMULATOR}" "$<TARGET_FILE:brevlo_e2e_tests>"
          --gtest_filter=LauncherTest.WritesToAConsole --gtest_color=no)
set_tests_properties(e2e_console PROPERTIES
  ENVIRONMENT BREVLO_E2E_REQUIRE_CONSOLE=1 RESOURCE_LOCK brevlo_webview_registry)
brevlo_test_time_limit(300 e2e_console)

# The launcher's form and resources; the linker map names its entry routine.
add_test(NAME pe_form
  COMMAND "${BREVLO_PYTHON}" "${CMAKE_CURRENT_LIST_DIR}/pe_form_test.py" "$<TARGET_PROPERTY:brevlo,BREVLO_LAUNCHER_FILE>"
          "${BREVLO_GENERATED}/brevlo-stub.map" "$<TARGET_FILE:brevlo-stub>")
brevlo_test_time_limit(300 pe_form)

# The splash on a virtual X display: launchers packed with --splash (and --failure-dialog), one
# with an image small enough to be shown as it is, one too large for the screen, one small enough
# to be drawn 1.5 times as large at 144 DPI.
foreach(size 480x270 1000x500 320x180)
  string(REPLACE "x" ";" sides "${size}")
  add_custom_command(
    OUTPUT "${BREVLO_E2E_DIR}/branding/splash-${size}.png"
    COMMAND "${CMAKE_COMMAND}" -E make_directory "${BREVLO_E2E_DIR}/branding"
    COMMAND "${BREVLO_PYTHON}" "${CMAKE_CURRENT_LIST_DIR}/make_splash.py"
            "${BREVLO_E2E_DIR}/branding/splash-${size}.png" ${sides}
    DEPENDS "${CMAKE_CURRENT_LIST_DIR}/make_splash.py"
    COMMENT "Making a ${size} splash image")
  add_custom_target(brevlo_e2e_splash_${size} DEPENDS "${BREVLO_E2E_DIR}/branding/splash-${size}.png")
  brevlo_add_stand_in_launcher(brevlo_e2e_splash_launcher_${size} "${BREVLO_E2E_DIR}"
    PACK_OPTIONS --splash "${BREVLO_E2E_DIR}/branding/splash-${size}.png" --failure-dialog)
  add_dependencies(brevlo_e2e_splash_launcher_${size} brevlo_e2e_splash_${size})
endforeach()
add_test(NAME splash
  COMMAND "${BREVLO_PYTHON}" "${CMAKE_CURRENT_LIST_DIR}/splash_test.py"
          --wine "${CMAKE_CROSSCOMPILING_EMULATOR}" --prefix "${BREVLO_WINEPREFIX}"
          --starter "$<TARGET_FILE:brevlo_e2e_start_without_handles>"
          --launcher "$<TARGET_PROPERTY:brevlo_e2e_splash_launcher_480x270,BREVLO_LAUNCHER_FILE>"
          --large "$<TARGET_PROPERTY:brevlo_e2e_splash_launcher_1000x500,BREVLO_LAUNCHER_FILE>"
          --small "$<TARGET_PROPERTY:brevlo_e2e_splash_launcher_320x180,BREVLO_LAUNCHER_FILE>"
          --app "$<TARGET_FILE:brevlo_demo_app>" --artefacts "${BREVLO_E2E_DIR}/splash")
# Alone, as the failure dialog's test; it sets the runtime's registration as the e2e tests do.
set_tests_properties(splash PROPERTIES RUN_SERIAL TRUE RESOURCE_LOCK brevlo_webview_registry)
brevlo_test_time_limit(300 splash)
