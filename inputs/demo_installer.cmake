# The demo installer: the demo application (standing for the game) packed by Debian's makensis
# from inputs/installer.nsi. Included by src/main/launcher.cmake when no installer of a publisher
# is given; sets BREVLO_INSTALLER_IMAGE (the installer's path) and BREVLO_INSTALLER_TARGET (the
# target that builds it) for the including scope.

find_program(BREVLO_MAKENSIS makensis REQUIRED)

set(BREVLO_DEMO_DIR "${CMAKE_BINARY_DIR}/demo")

# The demo application: Ostrevan.exe, windowed, importing system DLLs only.
add_executable(brevlo_demo_app WIN32 "${CMAKE_SOURCE_DIR}/inputs/demo_app/demo_app.cpp")
set_target_properties(brevlo_demo_app PROPERTIES
  OUTPUT_NAME Ostrevan
  RUNTIME_OUTPUT_DIRECTORY "${BREVLO_DEMO_DIR}")
target_link_options(brevlo_demo_app PRIVATE -s)
brevlo_warnings(brevlo_demo_app)
set(BREVLO_DEMO_APP "${BREVLO_DEMO_DIR}/Ostrevan.exe")

set(BREVLO_INSTALLER_IMAGE "${BREVLO_DEMO_DIR}/ostrevan_setup.exe")
add_custom_command(
  OUTPUT "${BREVLO_INSTALLER_IMAGE}"
  COMMAND "${BREVLO_MAKENSIS}" -V2 -NOCONFIG
          "-DAPP_EXE=$<TARGET_FILE:brevlo_demo_app>"
          "-DOUT_FILE=${BREVLO_INSTALLER_IMAGE}"
          "${CMAKE_SOURCE_DIR}/inputs/installer.nsi"
  DEPENDS brevlo_demo_app "${CMAKE_SOURCE_DIR}/inputs/installer.nsi"
  COMMENT "Building the demo installer with makensis"
  VERBATIM)
add_custom_target(brevlo_demo_installer DEPENDS "${BREVLO_INSTALLER_IMAGE}")
set(BREVLO_INSTALLER_TARGET brevlo_demo_installer)
