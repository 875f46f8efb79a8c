# Creates the Wine prefix in PREFIX unless it is there already. Usage:
#   cmake -DPREFIX=<folder> -P make_wine_prefix.cmake
if(NOT PREFIX)
    message(FATAL_ERROR "PREFIX is not set")
endif()
if(EXISTS "${PREFIX}/system.reg")
    return()
endif()
find_program(WINEBOOT wineboot REQUIRED)
set(ENV{WINEPREFIX} "${PREFIX}")
set(ENV{WINEDEBUG} "-all")
# No display is needed, nor wanted: without one wineboot cannot pop up its dialogs.
unset(ENV{DISPLAY})
execute_process(COMMAND ${WINEBOOT} -i RESULT_VARIABLE result TIMEOUT 170)
if(NOT result EQUAL 0 OR NOT EXISTS "${PREFIX}/system.reg")
    message(FATAL_ERROR "wineboot -i failed for ${PREFIX}: ${result}")
endif()
# Wine may still be writing the registry; wait for its server to finish.
find_program(WINESERVER wineserver)
if(WINESERVER)
    execute_process(COMMAND ${WINESERVER} -w TIMEOUT 60)
endif()
