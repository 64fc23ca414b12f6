# brevlo-check-config as a publisher runs it: exit status, standard output and standard error.
foreach(check_case shipped array_form refused refused_later_line missing_file directory no_argument)
  add_test(NAME check_config_${check_case}
    COMMAND sh "${CMAKE_CURRENT_SOURCE_DIR}/cli/check_config.sh" $<TARGET_FILE:brevlo-check-config>
            ${check_case} "${CMAKE_CURRENT_BINARY_DIR}/check_config" "${CMAKE_SOURCE_DIR}")
endforeach()

add_test(NAME include_direction COMMAND sh "${CMAKE_CURRENT_SOURCE_DIR}/cli/include_direction.sh" "${CMAKE_SOURCE_DIR}")

# The size table of bench/run.sh (bench/map_sizes.py), on a link map excerpt.
add_test(NAME bench_map_sizes COMMAND "${BREVLO_PYTHON}" "${CMAKE_CURRENT_SOURCE_DIR}/cli/map_sizes_test.py")
# The statistics of bench/run.sh's paired runner (bench/paired.py): pairing, median of pair ratios,
# bootstrap interval, verdicts, probe records.
add_test(NAME bench_paired COMMAND "${BREVLO_PYTHON}" "${CMAKE_CURRENT_SOURCE_DIR}/cli/paired_test.py")
# scripts/jsontestsuite.sh: the folder beside the checkout or a git fetch, checked by tree id;
# offline, from local repositories.
add_test(NAME jsontestsuite_fetch
  COMMAND bash "${CMAKE_CURRENT_SOURCE_DIR}/cli/jsontestsuite_fetch.sh"
          "${CMAKE_CURRENT_BINARY_DIR}/jsontestsuite_fetch" "${BREVLO_JSONTESTSUITE_DIR}")
