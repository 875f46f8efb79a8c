# Writes help2man's SYNOPSIS section from the usage lines the program itself prints when it is
# run without a command, so that the manual page shows each form of the command line as the
# program knows it: the program and its commands bold, option names bold, metavariables italic.
#   cmake -DPROGRAM=vivad-flash -DOUTPUT=synopsis.h2m -P man_synopsis_from_usage.cmake
foreach(argument PROGRAM OUTPUT)
    if(NOT DEFINED ${argument})
        message(FATAL_ERROR "man_synopsis_from_usage.cmake: ${argument} is not set")
    endif()
endforeach()

execute_process(COMMAND "${PROGRAM}" RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE usage)
if(status EQUAL 0 OR NOT usage MATCHES "\nUsage:\n(.*)\nRun '")
    message(FATAL_ERROR "${PROGRAM} without a command printed no usage:\n${usage}")
endif()
set(lines "${CMAKE_MATCH_1}")
# A form that goes on over more lines continues on a line indented further than the forms.
string(REGEX REPLACE "\n    +" " " lines "${lines}")
string(REGEX REPLACE " +" " " lines "${lines}")
string(REPLACE "\n" ";" forms "${lines}")

get_filename_component(name "${PROGRAM}" NAME_WE)
string(REPLACE "-" "\\-" typedName "${name}")
set(synopsis "[SYNOPSIS]\n")
foreach(form IN LISTS forms)
    string(STRIP "${form}" form)
    if(NOT form MATCHES "^${name}( (.*))?$")
        message(FATAL_ERROR "usage line does not begin with ${name}: ${form}")
    endif()
    set(arguments "${CMAKE_MATCH_2}")
    # The command, a word of its own before the options.
    string(REGEX REPLACE "^([a-z]+)" "\\\\fB\\1\\\\fR" arguments "${arguments}")
    string(REGEX REPLACE "(--[a-z][a-z-]*)" "\\\\fB\\1\\\\fR" arguments "${arguments}")
    string(REGEX REPLACE "([A-Z][A-Z]+)" "\\\\fI\\1\\\\fR" arguments "${arguments}")
    # Typed as a minus sign, so that the options can be copied from the rendered page.
    string(REPLACE "-" "\\-" arguments "${arguments}")
    # An option and its metavariable stay together on one line of the rendered page.
    string(REGEX REPLACE "\\[([^] ]+) ([^]]+)\\]" "[\\1\\\\ \\2]" arguments "${arguments}")
    string(APPEND synopsis ".SY ${typedName}\n${arguments}\n.YS\n")
endforeach()
file(WRITE "${OUTPUT}" "${synopsis}")
