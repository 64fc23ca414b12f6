# The launcher executable (Windows build only), included from src/CMakeLists.txt.
include(ExternalProject)

# brevlo-check-config for the build machine, to refuse a game.json that would stop every run.
ExternalProject_Add(brevlo_host_tools
  SOURCE_DIR "${CMAKE_SOURCE_DIR}"
  BINARY_DIR "${CMAKE_BINARY_DIR}/host-tools"
  CMAKE_ARGS -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc
             -DBREVLO_HOST_TOOLS_ONLY=ON
  BUILD_COMMAND "${CMAKE_COMMAND}" --build . --target brevlo-check-config
  BUILD_ALWAYS ON
  INSTALL_COMMAND ""
  BUILD_BYPRODUCTS "${CMAKE_BINARY_DIR}/host-tools/brevlo-check-config")
set(BREVLO_HOST_CHECK_CONFIG "${CMAKE_BINARY_DIR}/host-tools/brevlo-check-config" CACHE INTERNAL "brevlo-check-config built for the build machine")

add_custom_command(
  OUTPUT "${BREVLO_GENERATED}/game_config.checked"
  COMMAND "${CMAKE_COMMAND}" -DCHECKER=${BREVLO_HOST_CHECK_CONFIG} -DCONFIG=${BREVLO_GAME_CONFIG}
          -DSTAMP=${BREVLO_GENERATED}/game_config.checked
          -P "${CMAKE_SOURCE_DIR}/cmake/check_game_config.cmake"
  DEPENDS "${BREVLO_GAME_CONFIG}" brevlo_host_tools "${CMAKE_SOURCE_DIR}/cmake/check_game_config.cmake"
  COMMENT "Checking ${BREVLO_GAME_CONFIG}")
add_custom_target(brevlo_config_check DEPENDS "${BREVLO_GENERATED}/game_config.checked")

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

# A launcher around a given installer image: the shipped one, and test variants around stand-ins.
# An optional fourth argument embeds another game.json in this launcher only (its object comes
# before the library's, so the library's embedded document is not linked in).
function(brevlo_add_launcher target image image_target)
  set(config_sources "")
  set(config_check brevlo_config_check)
  if(ARGC GREATER 3)
    set(BREVLO_GAME_CONFIG "${ARGV3}")
    set(config_asm "${BREVLO_GENERATED}/${target}_config.S")
    configure_file("${CMAKE_SOURCE_DIR}/src/core/config/embedded_config.S.in" "${config_asm}" @ONLY)
    add_custom_command(
      OUTPUT "${BREVLO_GENERATED}/${target}_config.checked"
      COMMAND "${CMAKE_COMMAND}" -DCHECKER=${BREVLO_HOST_CHECK_CONFIG} -DCONFIG=${ARGV3}
              -DSTAMP=${BREVLO_GENERATED}/${target}_config.checked
              -P "${CMAKE_SOURCE_DIR}/cmake/check_game_config.cmake"
      DEPENDS "${ARGV3}" brevlo_host_tools "${CMAKE_SOURCE_DIR}/cmake/check_game_config.cmake"
      COMMENT "Checking ${ARGV3}")
    set_source_files_properties("${config_asm}" PROPERTIES
      OBJECT_DEPENDS "${ARGV3};${BREVLO_GENERATED}/${target}_config.checked")
    set(config_sources "${config_asm}")
  endif()
  set(asm "${BREVLO_GENERATED}/${target}_installer.S")
  set(BREVLO_IMAGE_PATH "${image}")
  configure_file("${CMAKE_SOURCE_DIR}/src/main/embedded_installer.S.in" "${asm}" @ONLY)
  add_custom_command(
    OUTPUT "${BREVLO_GENERATED}/${target}_installer.checked"
    COMMAND "${CMAKE_COMMAND}" -DIMAGE=${image} -DSTAMP=${BREVLO_GENERATED}/${target}_installer.checked
            -P "${CMAKE_SOURCE_DIR}/cmake/check_installer.cmake"
    DEPENDS "${image}" ${image_target} "${CMAKE_SOURCE_DIR}/cmake/check_installer.cmake"
    COMMENT "Checking the installer image ${image}")
  set_source_files_properties("${asm}" PROPERTIES
    OBJECT_DEPENDS "${image};${BREVLO_GENERATED}/${target}_installer.checked")
  set_source_files_properties("${CMAKE_SOURCE_DIR}/src/main/brevlo.rc" PROPERTIES
    OBJECT_DEPENDS "${BREVLO_GENERATED}/brevlo.ico")
  add_executable(${target} WIN32
    "${CMAKE_SOURCE_DIR}/src/main/main.cpp"
    "${CMAKE_SOURCE_DIR}/src/main/brevlo.rc"
    "${asm}" ${config_sources})
  target_include_directories(${target} PRIVATE "${BREVLO_GENERATED}")
  target_link_libraries(${target} PRIVATE brevlo_core)
  brevlo_link_as_launcher(${target})
  add_dependencies(${target} ${config_check})
  if(image_target)
    add_dependencies(${target} ${image_target})
  endif()
  brevlo_warnings(${target})
  target_link_options(${target} PRIVATE
    # A windowed program whose entry is main(argc, argv) with the console application type.
    -Wl,--subsystem,windows:6.0 -Wl,--entry,mainCRTStartup
    -Wl,--major-os-version,6 -Wl,--minor-os-version,0
    "SHELL:-Xlinker --stack -Xlinker 0x100000,0x1000"
    -Wl,--dynamicbase -Wl,--high-entropy-va -Wl,--nxcompat -Wl,--tsaware
    # Sections aligned in the file as in memory, so the loader can map the embedded image instead
    # of reading all of it at every start (Wine copies misaligned sections: +20 ms per launch).
    -Wl,--file-alignment,4096
    -Wl,--gc-sections -s "-Wl,-Map,${BREVLO_GENERATED}/${target}.map")
endfunction()

brevlo_add_launcher(brevlo "${BREVLO_INSTALLER_IMAGE}" "${BREVLO_INSTALLER_TARGET}")
# The shipped launcher sits at the top of the build tree: build/windows/brevlo.exe.
set_target_properties(brevlo PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}")
