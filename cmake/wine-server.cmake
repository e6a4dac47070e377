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
  # The locale of code page 936 (LOCPATH, LANG in the environment), made
  # once from the system's locale sources.
  if(DEFINED ENV{LOCPATH} AND DEFINED ENV{LANG} AND NOT EXISTS $ENV{LOCPATH}/$ENV{LANG})
    string(REGEX REPLACE "\\..*$" "" locale_name "$ENV{LANG}")
    string(REGEX REPLACE "^[^.]*\\." "" locale_charset "$ENV{LANG}")
    file(MAKE_DIRECTORY $ENV{LOCPATH})
    execute_process(COMMAND localedef -i ${locale_name} -f ${locale_charset} $ENV{LOCPATH}/$ENV{LANG}
                    OUTPUT_FILE ${LOG} ERROR_FILE ${LOG} RESULT_VARIABLE status)
    if(NOT EXISTS $ENV{LOCPATH}/$ENV{LANG})
      message(FATAL_ERROR "localedef ${locale_name} ${locale_charset} failed (${status}); see ${LOG}")
    endif()
  endif()
  file(MAKE_DIRECTORY $ENV{WINEPREFIX})
  execute_process(COMMAND ${WINESERVER} -p INPUT_FILE /dev/null OUTPUT_FILE ${LOG} ERROR_FILE ${LOG})
  if(NOT EXISTS $ENV{WINEPREFIX}/system.reg)
    execute_process(COMMAND ${WINE} wineboot -i INPUT_FILE /dev/null OUTPUT_FILE ${LOG}
                    ERROR_FILE ${LOG} RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "wineboot -i failed (${status}); see ${LOG}")
    endif()
  endif()
  # The unit suites run without an X display: Wine's null graphics driver
  # lets them make windows (a shell client's, a tray host's) all the same.
  # The prefix's desktop takes the driver at its start, so a prefix that
  # gets it now is started again.
  execute_process(COMMAND ${WINE} reg query "HKCU\\Software\\Wine\\Drivers" /v Graphics
                  INPUT_FILE /dev/null OUTPUT_VARIABLE drivers ERROR_FILE ${LOG})
  if(NOT drivers MATCHES "null")
    execute_process(COMMAND ${WINE} reg add "HKCU\\Software\\Wine\\Drivers" /v Graphics /d null /f
                    INPUT_FILE /dev/null OUTPUT_FILE ${LOG} ERROR_FILE ${LOG} RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "Wine's null graphics driver cannot be set (${status}); see ${LOG}")
    endif()
    execute_process(COMMAND ${WINESERVER} -k OUTPUT_QUIET ERROR_QUIET)
    execute_process(COMMAND ${WINESERVER} -w OUTPUT_QUIET ERROR_QUIET)
    execute_process(COMMAND ${WINESERVER} -p INPUT_FILE /dev/null OUTPUT_FILE ${LOG} ERROR_FILE ${LOG})
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
