# brevlo-pack on the stub, checked with pefile: the launcher's form, branding with a multi-image
# icon and CJK strings, and the same bytes from the build machine's tool and from the Windows tool
# under Wine. Included from tests/CMakeLists.txt after the end-to-end tests.

foreach(needed brevlo-stub brevlo-pack brevlo_e2e_stand_in)
  if(NOT TARGET ${needed})
    message(FATAL_ERROR "pack tests: there is no target ${needed}")
  endif()
endforeach()
set(pack_installer "$<TARGET_FILE:brevlo_e2e_stand_in>")
add_test(NAME pack_form
  COMMAND "${BREVLO_PYTHON}" "${CMAKE_CURRENT_LIST_DIR}/pack_form_test.py"
          "$<TARGET_FILE:brevlo-stub>" "${BREVLO_HOST_PACK}" "$<TARGET_FILE:brevlo-pack>"
          "${CMAKE_CROSSCOMPILING_EMULATOR}" "${CMAKE_SOURCE_DIR}/inputs/game.json"
          "${pack_installer}" "${CMAKE_CURRENT_BINARY_DIR}/pack_form")
brevlo_test_time_limit(900 pack_form)
