# The configuration parser under libFuzzer (clang, the `fuzz` preset).
add_executable(brevlo_config_fuzz "${CMAKE_CURRENT_LIST_DIR}/config_fuzz.cpp")
target_link_libraries(brevlo_config_fuzz PRIVATE brevlo_core)
target_link_options(brevlo_config_fuzz PRIVATE -fsanitize=fuzzer)
brevlo_warnings(brevlo_config_fuzz)
