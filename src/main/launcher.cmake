# The launcher (Windows build only), included from src/CMakeLists.txt: the stub, and every
# launcher packed from it by brevlo-pack, the way a publisher makes one.
include(ExternalProject)

# brevlo-pack and brevlo-check-config for the build machine.
ExternalProject_Add(brevlo_host_tools
  SOURCE_DIR "${CMAKE_SOURCE_DIR}"
  BINARY_DIR "${CMAKE_BINARY_DIR}/host-tools"
  CMAKE_ARGS -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc
             -DBREVLO_HOST_TOOLS_ONLY=ON
  BUILD_COMMAND "${CMAKE_COMMAND}" --build . --target brevlo-check-config brevlo-pack
  BUILD_ALWAYS ON
  INSTALL_COMMAND ""
  BUILD_BYPRODUCTS "${CMAKE_BINARY_DIR}/host-tools/brevlo-check-config"
                   "${CMAKE_BINARY_DIR}/host-tools/brevlo-pack")
set(BREVLO_HOST_CHECK_CONFIG "${CMAKE_BINARY_DIR}/host-tools/brevlo-check-config" CACHE INTERNAL "brevlo-check-config built for the build machine")
set(BREVLO_HOST_PACK "${CMAKE_BINARY_DIR}/host-tools/brevlo-pack" CACHE INTERNAL "brevlo-pack built for the build machine")

# The installer image: the publisher's installer, or the demo installer built from inputs/.
if(BREVLO_INSTALLER)
  set(BREVLO_INSTALLER_IMAGE "${BREVLO_INSTALLER}")
  set(BREVLO_INSTALLER_TARGET "")
else()
  include("${CMAKE_SOURCE_DIR}/inputs/demo_installer.cmake")
  # sets BREVLO_INSTALLER_IMAGE (the built installer) and BREVLO_INSTALLER_TARGET
endif()

# The icon: one 128x128 32-bit image, made by the build.
add_custom_command(
  OUTPUT "${BREVLO_GENERATED}/brevlo.ico"
  COMMAND "${BREVLO_PYTHON}" "${CMAKE_SOURCE_DIR}/tools/make_icon.py" "${BREVLO_GENERATED}/brevlo.ico"
  DEPENDS "${CMAKE_SOURCE_DIR}/tools/make_icon.py"
  COMMENT "Making the launcher icon")
# The version resource states the project's version, project(... VERSION ...) in CMakeLists.txt.
set(BREVLO_VERSION_NUMBERS "")
foreach(part MAJOR MINOR PATCH TWEAK)
  if(PROJECT_VERSION_${part} STREQUAL "")
    list(APPEND BREVLO_VERSION_NUMBERS 0)
  else()
    list(APPEND BREVLO_VERSION_NUMBERS ${PROJECT_VERSION_${part}})
  endif()
endforeach()
list(JOIN BREVLO_VERSION_NUMBERS "," BREVLO_VERSION_NUMBERS)
file(CONFIGURE OUTPUT "${BREVLO_GENERATED}/brevlo_version.h" CONTENT
"// Made by the build from the project's version.
#define BREVLO_VERSION_NUMBERS @BREVLO_VERSION_NUMBERS@
#define BREVLO_VERSION_TEXT \"@PROJECT_VERSION@\"
")
set_source_files_properties("${CMAKE_SOURCE_DIR}/src/main/brevlo.rc" PROPERTIES
  OBJECT_DEPENDS "${BREVLO_GENERATED}/brevlo.ico;${BREVLO_GENERATED}/brevlo_version.h")

# The stub: the launcher without game.json and installer, at build/windows/brevlo-stub.exe.
add_executable(brevlo-stub WIN32
  "${CMAKE_SOURCE_DIR}/src/main/main.cpp"
  "${CMAKE_SOURCE_DIR}/src/main/brevlo.rc")
target_include_directories(brevlo-stub PRIVATE "${BREVLO_GENERATED}")
target_link_libraries(brevlo-stub PRIVATE brevlo_core)
brevlo_warnings(brevlo-stub)
set_target_properties(brevlo-stub PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}")
target_link_options(brevlo-stub PRIVATE
  # A windowed program whose entry is main(argc, argv) with the console application type.
  -Wl,--subsystem,windows:6.0 -Wl,--entry,mainCRTStartup
  -Wl,--major-os-version,6 -Wl,--minor-os-version,0
  "SHELL:-Xlinker --stack -Xlinker 0x100000,0x1000"
  -Wl,--dynamicbase -Wl,--high-entropy-va -Wl,--nxcompat -Wl,--tsaware
  # Sections aligned in the file as in memory, so the loader can map the packed installer instead
  # of reading all of it at every start (Wine copies misaligned sections: +20 ms per launch).
  -Wl,--file-alignment,4096
  # The stub mark is referenced by nothing; keep it through --gc-sections.
  -Wl,--undefined=brevlo_stub_mark
  -Wl,--gc-sections -s "-Wl,-Map,${BREVLO_GENERATED}/brevlo-stub.map")

# Signing of the shipped launcher, with osslsigncode, when a certificate is given.
set(BREVLO_SIGN_PKCS12 "" CACHE FILEPATH "A .pfx/.p12 file to sign build/windows/brevlo.exe with (empty: no signature)")
set(BREVLO_SIGN_PASSWORD_FILE "" CACHE FILEPATH "A file holding the password of BREVLO_SIGN_PKCS12")
set(BREVLO_SIGN_TIMESTAMP_URL "" CACHE STRING "A timestamp server for the signature (empty: none)")
if(BREVLO_SIGN_PKCS12 AND BREVLO_SIGN_PASSWORD_FILE)
  find_program(BREVLO_OSSLSIGNCODE osslsigncode REQUIRED)
  message(STATUS "brevlo.exe will be signed with ${BREVLO_SIGN_PKCS12}")
else()
  message(STATUS "brevlo.exe will not be signed: set BREVLO_SIGN_PKCS12 and BREVLO_SIGN_PASSWORD_FILE to sign it")
endif()

# brevlo_add_launcher(target image image_target [CONFIG game.json] [OUTPUT file] [SIGN]
#                     [EXCLUDE_FROM_ALL] [PACK_OPTIONS options...])
# Packs the stub with game.json (default: BREVLO_GAME_CONFIG) and the installer image into a
# launcher (default: build/windows/launchers/<target>.exe); brevlo-pack refuses a game.json that
# would stop every run and an installer that is not a Windows executable. SIGN signs the result
# when a certificate is configured. The file is the target's BREVLO_LAUNCHER_FILE property.
function(brevlo_add_launcher target image image_target)
  cmake_parse_arguments(PARSE_ARGV 3 arg "SIGN;EXCLUDE_FROM_ALL" "CONFIG;OUTPUT" "PACK_OPTIONS")
  if(NOT arg_CONFIG)
    set(arg_CONFIG "${BREVLO_GAME_CONFIG}")
  endif()
  if(NOT arg_OUTPUT)
    set(arg_OUTPUT "${CMAKE_BINARY_DIR}/launchers/${target}.exe")
  endif()
  set(packed "${arg_OUTPUT}")
  set(sign_commands "")
  if(arg_SIGN AND BREVLO_SIGN_PKCS12 AND BREVLO_SIGN_PASSWORD_FILE)
    set(packed "${BREVLO_GENERATED}/${target}.unsigned.exe")
    set(timestamp "")
    if(BREVLO_SIGN_TIMESTAMP_URL)
      set(timestamp -t "${BREVLO_SIGN_TIMESTAMP_URL}")
    endif()
    set(sign_commands
      COMMAND "${CMAKE_COMMAND}" -E rm -f "${arg_OUTPUT}"
      COMMAND "${BREVLO_OSSLSIGNCODE}" sign -pkcs12 "${BREVLO_SIGN_PKCS12}"
              -readpass "${BREVLO_SIGN_PASSWORD_FILE}" -h sha256 ${timestamp}
              -in "${packed}" -out "${arg_OUTPUT}")
  endif()
  get_filename_component(output_dir "${arg_OUTPUT}" DIRECTORY)
  add_custom_command(
    OUTPUT "${arg_OUTPUT}"
    COMMAND "${CMAKE_COMMAND}" -E make_directory "${output_dir}"
    COMMAND "${BREVLO_HOST_PACK}" --stub "$<TARGET_FILE:brevlo-stub>" --config "${arg_CONFIG}"
            --installer "${image}" --out "${packed}" ${arg_PACK_OPTIONS}
    ${sign_commands}
    DEPENDS brevlo-stub "$<TARGET_FILE:brevlo-stub>" brevlo_host_tools "${BREVLO_HOST_PACK}"
            "${arg_CONFIG}" "${image}" ${image_target}
    COMMENT "Packing ${arg_OUTPUT}"
    VERBATIM)
  set(all ALL)
  if(arg_EXCLUDE_FROM_ALL)
    set(all "")
  endif()
  add_custom_target(${target} ${all} DEPENDS "${arg_OUTPUT}")
  set_target_properties(${target} PROPERTIES BREVLO_LAUNCHER_FILE "${arg_OUTPUT}")
endfunction()

# The shipped launcher sits at the top of the build tree: build/windows/brevlo.exe.
brevlo_add_launcher(brevlo "${BREVLO_INSTALLER_IMAGE}" "${BREVLO_INSTALLER_TARGET}"
  OUTPUT "${CMAKE_BINARY_DIR}/brevlo.exe" SIGN)
