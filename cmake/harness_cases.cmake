# One ctest test per case of a Python test harness: the harness lists its cases with --list when
# CMake configures, and runs one named case per test.
#
#   add_harness_cases(PREFIX e2e HARNESS run_e2e.py ARGS --build-dir ... PROPERTIES TIMEOUT 180)
#
# registers e2e.<case> for every case, with the given test properties.
find_package(Python3 REQUIRED COMPONENTS Interpreter)

function(add_harness_cases)
    cmake_parse_arguments(PARSE_ARGV 0 CASES "" "PREFIX;HARNESS" "ARGS;PROPERTIES")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CASES_HARNESS})
    execute_process(
        COMMAND ${Python3_EXECUTABLE} ${CASES_HARNESS} --list
        OUTPUT_VARIABLE names
        RESULT_VARIABLE listed
        OUTPUT_STRIP_TRAILING_WHITESPACE
    )
    if(NOT listed EQUAL 0)
        message(FATAL_ERROR "${CASES_HARNESS} --list failed")
    endif()
    string(REPLACE "\n" ";" names "${names}")
    foreach(name IN LISTS names)
        add_test(NAME ${CASES_PREFIX}.${name}
            COMMAND ${Python3_EXECUTABLE} ${CASES_HARNESS} ${CASES_ARGS} ${name})
        set_tests_properties(${CASES_PREFIX}.${name} PROPERTIES ${CASES_PROPERTIES})
    endforeach()
endfunction()
