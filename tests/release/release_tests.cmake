# The release bundles (Windows build, run under Wine by CTest): the programs of the release builds
# (build/release-native, build/release-windows: scripts/release.sh, which the test command runs
# first, makes them) packed as scripts/release.sh packs them, then used as a publisher uses them.
# Included from tests/CMakeLists.txt after the end-to-end tests, whose stand-in installer it takes.

foreach(needed brevlo_e2e_stand_in brevlo_demo_app)
  if(NOT TARGET ${needed})
    message(FATAL_ERROR "release bundle test: there is no target ${needed}")
  endif()
endforeach()

add_test(NAME release_bundles
  COMMAND bash "${CMAKE_CURRENT_LIST_DIR}/bundle_test.sh" "${CMAKE_CURRENT_BINARY_DIR}/release_bundles"
          "${CMAKE_CROSSCOMPILING_EMULATOR}" "${BREVLO_WINEPREFIX}" "${PROJECT_VERSION}"
          "${CMAKE_SOURCE_DIR}/build/release-native" "${CMAKE_SOURCE_DIR}/build/release-windows"
          "${BREVLO_E2E_STAND_IN}" "$<TARGET_FILE:brevlo_demo_app>")
# The launchers read the runtime's registration, which other tests change for a while.
set_tests_properties(release_bundles PROPERTIES RESOURCE_LOCK brevlo_webview_registry)
brevlo_test_time_limit(600 release_bundles)
