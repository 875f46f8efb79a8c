# Writes one level-2 section of a Markdown file, from its heading to the next level-2 heading,
# so that a package ships that part of the README as it stands rather than a copy kept by hand.
#   cmake -DMARKDOWN=README.md "-DHEADING=## Command line" -DOUTPUT=out.md -P markdown_section.cmake
# The text is cut as one string: split into a CMake list, the semicolons in it would be lost.
foreach(argument MARKDOWN HEADING OUTPUT)
    if(NOT DEFINED ${argument})
        message(FATAL_ERROR "markdown_section.cmake: ${argument} is not set")
    endif()
endforeach()

file(READ "${MARKDOWN}" text)
string(PREPEND text "\n")
string(FIND "${text}" "\n${HEADING}\n" start)
if(start EQUAL -1)
    message(FATAL_ERROR "${MARKDOWN} has no line \"${HEADING}\"")
endif()
math(EXPR start "${start} + 1")
string(SUBSTRING "${text}" ${start} -1 section)
# The next heading of the same level ends the section; "### " subsections stay in it.
string(LENGTH "${HEADING}\n" headingLength)
string(SUBSTRING "${section}" ${headingLength} -1 body)
string(FIND "${body}" "\n## " end)
if(NOT end EQUAL -1)
    math(EXPR end "${end} + ${headingLength} + 1")
    string(SUBSTRING "${section}" 0 ${end} section)
endif()
string(REGEX REPLACE "\n+$" "\n" section "${section}")
file(WRITE "${OUTPUT}" "${section}")
