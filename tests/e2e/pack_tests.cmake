# brevlo-pack on the stub, checked with pefile: the launcher's form, branding with a multi-image
# icon and CJK strings, and the same bytes from the build machine's tool and from the Windows tool
# under Wine. Included from tests/CMakeLists.txt after the end-to-end tests.

if(NOT TARGET brevlo-stub OR NOT TARGET brevlo-pack)
  message(STATUS "pack tests: no stub target yet, skipped")
  return()
endif()

if(TARGET brevlo_e2e_stand_in)
  set(pack_installer "$<TARGET_FILE:brevlo_e2e_stand_in>")
else()
  set(pack_installer "$<TARGET_FILE:brevlo-pack>")  # any Windows executable will do
endif()
add_test(NAME pack_form
  COMMAND "${BREVLO_PYTHON}" "${CMAKE_CURRENT_LIST_DIR}/pack_form_test.py"
          "$<TARGET_FILE:brevlo-stub>" "${BREVLO_HOST_PACK}" "$<TARGET_FILE:brevlo-pack>"
          "${CMAKE_CROSSCOMPILING_EMULATOR}" "${CMAKE_SOURCE_DIR}/inputs/game.json"
          "${pack_installer}" "${CMAKE_CURRENT_BINARY_DIR}/pack_form")
brevlo_test_time_limit(900 pack_form)
