# Benchmark programs (Windows build, built only on request by bench/run.sh).
set(BREVLO_BENCH_DIR "${CMAKE_BINARY_DIR}/bench")
set(BREVLO_BENCH_IMAGE "${BREVLO_BENCH_DIR}/bench_setup.exe")
add_custom_command(
  OUTPUT "${BREVLO_BENCH_IMAGE}"
  COMMAND "${CMAKE_COMMAND}" -E make_directory "${BREVLO_BENCH_DIR}"
  COMMAND bash "${CMAKE_SOURCE_DIR}/bench/make_bench_installer.sh" "${BREVLO_MAKENSIS}"
          "$<TARGET_FILE:brevlo_demo_app>" "${BREVLO_BENCH_IMAGE}" 8014088
          "${CMAKE_SOURCE_DIR}/bench/bench_installer.nsi"
  DEPENDS brevlo_demo_app "${CMAKE_SOURCE_DIR}/bench/bench_installer.nsi"
          "${CMAKE_SOURCE_DIR}/bench/make_bench_installer.sh"
  COMMENT "Building the 8,014,088-byte benchmark installer")
add_custom_target(brevlo_bench_installer DEPENDS "${BREVLO_BENCH_IMAGE}")

brevlo_add_launcher(brevlo_bench "${BREVLO_BENCH_IMAGE}" brevlo_bench_installer
  OUTPUT "${BREVLO_BENCH_DIR}/brevlo_bench.exe" EXCLUDE_FROM_ALL)

# The probe variant: the same stub with bench/launch_probe.c between the launcher's code and
# CreateProcessW, which records the launcher's own time to the game's start (see that file);
# packed with the same image. brevlo-stub.exe carries none of it (its link map shows it).
brevlo_add_stub(brevlo_bench_probe_stub
  SOURCES "${CMAKE_CURRENT_LIST_DIR}/launch_probe.c"
  LINK_OPTIONS -Wl,--wrap=__imp_CreateProcessW)
set_target_properties(brevlo_bench_probe_stub PROPERTIES EXCLUDE_FROM_ALL ON
  RUNTIME_OUTPUT_DIRECTORY "${BREVLO_BENCH_DIR}")
brevlo_add_launcher(brevlo_bench_probe "${BREVLO_BENCH_IMAGE}" brevlo_bench_installer
  STUB brevlo_bench_probe_stub OUTPUT "${BREVLO_BENCH_DIR}/brevlo_bench_probe.exe" EXCLUDE_FROM_ALL)

set(BREVLO_IMAGE_PATH "${BREVLO_BENCH_IMAGE}")
configure_file("${CMAKE_CURRENT_LIST_DIR}/embedded_installer.S.in"
  "${BREVLO_GENERATED}/brevlo_bench_installer.S" @ONLY)
set_source_files_properties("${BREVLO_GENERATED}/brevlo_bench_installer.S" PROPERTIES
  OBJECT_DEPENDS "${BREVLO_BENCH_IMAGE}")

add_executable(brevlo_bench_starter EXCLUDE_FROM_ALL "${CMAKE_CURRENT_LIST_DIR}/starter.c")
target_link_options(brevlo_bench_starter PRIVATE -municode -mwindows -s)
add_executable(brevlo_bench_floor EXCLUDE_FROM_ALL "${CMAKE_CURRENT_LIST_DIR}/floor.c")
target_link_options(brevlo_bench_floor PRIVATE -municode -mwindows -s)
add_executable(brevlo_bench_peak EXCLUDE_FROM_ALL "${CMAKE_CURRENT_LIST_DIR}/peak_commit.c")
target_link_options(brevlo_bench_peak PRIVATE -municode -s)
target_link_libraries(brevlo_bench_peak PRIVATE psapi)

add_executable(brevlo_bench_extract EXCLUDE_FROM_ALL "${CMAKE_CURRENT_LIST_DIR}/extract_bench.cpp"
  "${BREVLO_GENERATED}/brevlo_bench_installer.S")
target_link_libraries(brevlo_bench_extract PRIVATE brevlo_core)
add_dependencies(brevlo_bench_extract brevlo_bench_installer)
set_target_properties(brevlo_bench_starter brevlo_bench_floor brevlo_bench_peak brevlo_bench_extract PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY "${BREVLO_BENCH_DIR}")
