# Refuses a game.json that would stop every run, with the launcher's own message.
execute_process(COMMAND "${CHECKER}" "${CONFIG}" RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  string(STRIP "${err}" err)
  message(FATAL_ERROR "${CONFIG} would stop every run of the launcher: ${err}")
endif()
file(TOUCH "${STAMP}")
