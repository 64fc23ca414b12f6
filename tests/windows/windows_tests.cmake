# Windows-only tests, run under Wine by CTest: the system calls themselves (environment, file
# system, child processes, registry) against the real system, with a stand-in child program.
file(GLOB BREVLO_WINDOWS_TESTS CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/windows/*_test.cpp")

# The stand-in child: a windowed program that records how it was started (see test_child.cpp).
add_executable(brevlo_test_child windows/test_child.cpp)
target_link_libraries(brevlo_test_child PRIVATE brevlo_core shell32)
target_link_options(brevlo_test_child PRIVATE -municode -mwindows)
brevlo_warnings(brevlo_test_child)

# The process frame's immediate ends, run as a child by frame_test.cpp; linked as the launcher is.
add_executable(brevlo_frame_probe windows/frame_probe.cpp)
target_link_libraries(brevlo_frame_probe PRIVATE brevlo_main)
brevlo_link_as_launcher(brevlo_frame_probe)
target_link_options(brevlo_frame_probe PRIVATE "SHELL:-Xlinker --stack -Xlinker 0x100000,0x1000")
brevlo_warnings(brevlo_frame_probe)

add_executable(brevlo_win_tests ${BREVLO_WINDOWS_TESTS})
target_link_libraries(brevlo_win_tests PRIVATE brevlo_core ${BREVLO_GTEST})
brevlo_allow_duplicate_type_info(brevlo_win_tests)
target_include_directories(brevlo_win_tests PRIVATE "${CMAKE_CURRENT_SOURCE_DIR}")
target_compile_definitions(brevlo_win_tests PRIVATE BREVLO_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
brevlo_warnings(brevlo_win_tests)
# The tests start the child from the folder they run from.
add_dependencies(brevlo_win_tests brevlo_test_child brevlo_frame_probe)
# win.Suite.Case. The probe tests write the WebView2 value that the end-to-end tests set too; the
# cases, which ran one after another in one program, still run one at a time.
brevlo_gtest_cases(brevlo_win_tests win 300 PROPERTIES RESOURCE_LOCK brevlo_webview_registry)
