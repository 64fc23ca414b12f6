# The libFuzzer targets (clang, the `fuzz` preset): the configuration parser, and the pack tool's
# readers with the standard library's bounds checks on.
add_executable(brevlo_config_fuzz "${CMAKE_CURRENT_LIST_DIR}/config_fuzz.cpp")
target_link_libraries(brevlo_config_fuzz PRIVATE brevlo_core)
target_link_options(brevlo_config_fuzz PRIVATE -fsanitize=fuzzer)
brevlo_warnings(brevlo_config_fuzz)

foreach(reader Inspect Stub Icon Version Signature Splash)
  string(TOLOWER "${reader}" name)
  add_executable(brevlo_pack_${name}_fuzz "${CMAKE_CURRENT_LIST_DIR}/pack_fuzz.cpp")
  target_compile_definitions(brevlo_pack_${name}_fuzz PRIVATE BREVLO_PACK_FUZZ_READER=${reader})
  target_link_libraries(brevlo_pack_${name}_fuzz PRIVATE brevlo_pack)
  target_link_options(brevlo_pack_${name}_fuzz PRIVATE -fsanitize=fuzzer)
  brevlo_warnings(brevlo_pack_${name}_fuzz)
endforeach()

# Writes the pack targets' seed corpora made from sample stubs (run by run_fuzz.sh).
add_executable(brevlo_pack_fuzz_seeds "${CMAKE_CURRENT_LIST_DIR}/pack_fuzz_seeds.cpp")
target_link_libraries(brevlo_pack_fuzz_seeds PRIVATE brevlo_pack)
brevlo_warnings(brevlo_pack_fuzz_seeds)
