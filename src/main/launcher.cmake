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

# The launcher's C++ runtime. Everything is compiled once, with the POSIX thread model the test
# programs need (GoogleTest uses std::mutex, which GCC 12's win32 model lacks), but the launcher
# links GCC's runtime libraries (libstdc++, libgcc, crtbegin.o) of the win32 thread model: the
# launcher uses no C++ thread facility, and with the win32 model neither exception support,
# static-initialisation guards nor thread-local variables bring in winpthreads (26 KB). The two
# models' headers differ only in their thread support, and the launcher's sources compile to the
# same instructions under either. -no-pthread keeps -lpthread off the link, so a use of a
# POSIX-model thread facility in the launcher's code fails to link instead of mixing the models.
execute_process(COMMAND "${CMAKE_CXX_COMPILER}" -print-libgcc-file-name
                OUTPUT_VARIABLE BREVLO_POSIX_LIBGCC OUTPUT_STRIP_TRAILING_WHITESPACE)
get_filename_component(BREVLO_POSIX_RUNTIME_DIR "${BREVLO_POSIX_LIBGCC}" DIRECTORY)
string(REGEX REPLACE "-posix$" "-win32" win32_runtime_dir "${BREVLO_POSIX_RUNTIME_DIR}")
if(win32_runtime_dir STREQUAL BREVLO_POSIX_RUNTIME_DIR
   OR NOT EXISTS "${win32_runtime_dir}/libstdc++.a")
  message(FATAL_ERROR "No win32-thread-model runtime beside ${BREVLO_POSIX_RUNTIME_DIR} "
                      "(Debian: g++-mingw-w64-x86-64-win32, see scripts/setup.sh)")
endif()
set(BREVLO_WIN32_RUNTIME_DIR "${win32_runtime_dir}" CACHE INTERNAL "GCC's win32-thread-model runtime")

# The launcher's own ends of the C++ runtime (see the file), compiled once.
add_library(brevlo_launcher_runtime OBJECT "${CMAKE_SOURCE_DIR}/src/main/runtime_win.cpp")
target_include_directories(brevlo_launcher_runtime PRIVATE "${CMAKE_SOURCE_DIR}/src")
brevlo_warnings(brevlo_launcher_runtime)

# Links target as the launcher is linked: its runtime ends ahead of the runtime library, and the
# win32 thread model's runtime libraries (-B makes the driver take GCC's own files from there).
function(brevlo_link_as_launcher target)
  target_link_libraries(${target} PRIVATE brevlo_launcher_runtime)
  target_link_options(${target} PRIVATE "-B${BREVLO_WIN32_RUNTIME_DIR}/" -no-pthread)
endfunction()

# brevlo_add_stub(target [SOURCES files...] [LINK_OPTIONS options...])
# A stub, linked as the shipped one is, at build/windows/<target>.exe with its link map at
# generated/<target>.map. SOURCES and LINK_OPTIONS add to it (the benchmark's probe variant);
# the shipped stub has none.
function(brevlo_add_stub target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "SOURCES;LINK_OPTIONS")
  add_executable(${target} WIN32
    "${CMAKE_SOURCE_DIR}/src/main/main.cpp"
    "${CMAKE_SOURCE_DIR}/src/main/brevlo.rc"
    ${arg_SOURCES})
  target_include_directories(${target} PRIVATE "${BREVLO_GENERATED}")
  target_link_libraries(${target} PRIVATE brevlo_main)
  brevlo_link_as_launcher(${target})
  brevlo_warnings(${target})
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}")
  target_link_options(${target} PRIVATE
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
    -Wl,--gc-sections -s "-Wl,-Map,${BREVLO_GENERATED}/${target}.map"
    ${arg_LINK_OPTIONS})
endfunction()

# The stub: the launcher without game.json and installer, at build/windows/brevlo-stub.exe.
brevlo_add_stub(brevlo-stub)

# Signing of the shipped launcher, with osslsigncode, when a certificate is given.
set(BREVLO_SIGN_PKCS12 "" CACHE FILEPATH "A .pfx/.p12 file to sign build/windows/brevlo.exe with (empty: no signature)")
set(BREVLO_SIGN_PASSWORD_FILE "" CACHE FILEPATH "A file holding the password of BREVLO_SIGN_PKCS12")
set(BREVLO_SIGN_TIMESTAMP_URL "" CACHE STRING "A timestamp server for the signature (empty: none)")
if(BREVLO_SIGN_PKCS12 AND BREVLO_SIGN_PASSWORD_FILE)
  message(STATUS "brevlo.exe will be signed with ${BREVLO_SIGN_PKCS12}")
else()
  message(STATUS "brevlo.exe will not be signed: set BREVLO_SIGN_PKCS12 and BREVLO_SIGN_PASSWORD_FILE to sign it")
endif()

# brevlo_add_launcher(target image image_target [CONFIG game.json] [OUTPUT file] [STUB target] [SIGN]
#                     [SIGN_PKCS12 file SIGN_PASSWORD_FILE file [SIGN_DEPENDS target]]
#                     [EXCLUDE_FROM_ALL] [PACK_OPTIONS options...])
# Packs the stub with game.json (default: BREVLO_GAME_CONFIG) and the installer image into a
# launcher (default: build/windows/launchers/<target>.exe); brevlo-pack refuses a game.json that
# would stop every run and an installer that is not a Windows executable. STUB packs another stub
# target than brevlo-stub (the benchmark's probe variant). SIGN signs the result
# with the configured certificate, if any; SIGN_PKCS12 with the one given. The file is the
# target's BREVLO_LAUNCHER_FILE property.
function(brevlo_add_launcher target image image_target)
  cmake_parse_arguments(PARSE_ARGV 3 arg "SIGN;EXCLUDE_FROM_ALL"
    "CONFIG;OUTPUT;STUB;SIGN_PKCS12;SIGN_PASSWORD_FILE;SIGN_DEPENDS" "PACK_OPTIONS")
  if(NOT arg_STUB)
    set(arg_STUB brevlo-stub)
  endif()
  if(arg_SIGN AND BREVLO_SIGN_PKCS12 AND BREVLO_SIGN_PASSWORD_FILE)
    set(arg_SIGN_PKCS12 "${BREVLO_SIGN_PKCS12}")
    set(arg_SIGN_PASSWORD_FILE "${BREVLO_SIGN_PASSWORD_FILE}")
  endif()
  if(NOT arg_CONFIG)
    set(arg_CONFIG "${BREVLO_GAME_CONFIG}")
  endif()
  if(NOT arg_OUTPUT)
    set(arg_OUTPUT "${CMAKE_BINARY_DIR}/launchers/${target}.exe")
  endif()
  set(packed "${arg_OUTPUT}")
  set(sign_commands "")
  set(depends "")
  if(arg_SIGN_PKCS12)
    find_program(BREVLO_OSSLSIGNCODE osslsigncode REQUIRED)
    set(packed "${BREVLO_GENERATED}/${target}.unsigned.exe")
    set(timestamp "")
    if(BREVLO_SIGN_TIMESTAMP_URL)
      set(timestamp -t "${BREVLO_SIGN_TIMESTAMP_URL}")
    endif()
    set(sign_commands
      COMMAND "${CMAKE_COMMAND}" -E rm -f "${arg_OUTPUT}"
      COMMAND "${BREVLO_OSSLSIGNCODE}" sign -pkcs12 "${arg_SIGN_PKCS12}"
              -readpass "${arg_SIGN_PASSWORD_FILE}" -h sha256 ${timestamp}
              -in "${packed}" -out "${arg_OUTPUT}")
    list(APPEND depends "${arg_SIGN_PKCS12}" "${arg_SIGN_PASSWORD_FILE}" ${arg_SIGN_DEPENDS})
  endif()
  get_filename_component(output_dir "${arg_OUTPUT}" DIRECTORY)
  add_custom_command(
    OUTPUT "${arg_OUTPUT}"
    COMMAND "${CMAKE_COMMAND}" -E make_directory "${output_dir}"
    COMMAND "${BREVLO_HOST_PACK}" --stub "$<TARGET_FILE:${arg_STUB}>" --config "${arg_CONFIG}"
            --installer "${image}" --out "${packed}" ${arg_PACK_OPTIONS}
    ${sign_commands}
    DEPENDS ${arg_STUB} "$<TARGET_FILE:${arg_STUB}>" brevlo_host_tools "${BREVLO_HOST_PACK}"
            "${arg_CONFIG}" "${image}" ${image_target} ${depends}
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
