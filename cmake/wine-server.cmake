# Starts (ACTION=start) or ends (ACTION=stop) the Wine server of the prefix
# that the Windows build runs its tests in: cmake -DACTION=... -DWINE=...
# -DWINESERVER=... -DLOG=... -P wine-server.cmake, with WINEPREFIX and the
# other Wine variables in the environment.
#
# start makes the prefix the first time (wineboot), keeps its server running
# for good (wineserver -p) and runs one small program, which starts the
# prefix's services. Every test program then starts in a few hundredths of a
# second. Neither the server nor the services hold CTest's output pipes: they
# write to LOG, and CTest would otherwise wait for them to end.
if(ACTION STREQUAL "start")
  file(MAKE_DIRECTORY $ENV{WINEPREFIX})
  execute_process(COMMAND ${WINESERVER} -p INPUT_FILE /dev/null OUTPUT_FILE ${LOG} ERROR_FILE ${LOG})
  if(NOT EXISTS $ENV{WINEPREFIX}/system.reg)
    execute_process(COMMAND ${WINE} wineboot -i INPUT_FILE /dev/null OUTPUT_FILE ${LOG}
                    ERROR_FILE ${LOG} RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "wineboot -i failed (${status}); see ${LOG}")
    endif()
  endif()
  execute_process(COMMAND ${WINE} cmd /c exit INPUT_FILE /dev/null OUTPUT_FILE ${LOG}
                  ERROR_FILE ${LOG} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "Wine cannot run a program (${status}); see ${LOG}")
  endif()
elseif(ACTION STREQUAL "stop")
  # Ends the server and every program of the prefix; nothing is left running.
  execute_process(COMMAND ${WINESERVER} -k OUTPUT_QUIET ERROR_QUIET)
else()
  message(FATAL_ERROR "ACTION: start or stop")
endif()
