# The packages, made by CPack from the install rules: on Linux a Debian package of vivad-flash,
# on Windows a zip of both programs. One version for everything: the project's.
set(CPACK_PACKAGE_NAME vivad-flash)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "VIVAD")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Firmware updater for the VIVAD USB Power Delivery tester")
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/packages)
# Debug symbols would more than double the programs (the static C++ runtime's, on Windows).
set(CPACK_STRIP_FILES TRUE)

if(WIN32)
    # --- the Windows zip ---
    # Both programs, the ReadMe and the Windows notes, in one folder to unpack anywhere. No
    # firmware files (they are the user's, and go beside the programs) and no FTD2XX.dll (FTDI's
    # driver installs the real one).
    set(WINDOWS_ZIP_TEXTS ${CMAKE_BINARY_DIR}/windows-zip)
    # The updater shows the ReadMe's first version number as its own, so the project's version
    # opens the file.
    configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/ReadMe.txt.in
        ${WINDOWS_ZIP_TEXTS}/ReadMe.txt @ONLY NEWLINE_STYLE CRLF)
    # The notes as plain text with CRLF line ends: a .txt opens in Notepad by a double-click on
    # every Windows the programs run on, where a .md has no program to open it, and Notepad
    # before Windows 10 shows a file with bare LF line ends as one long line.
    configure_file(${PROJECT_SOURCE_DIR}/docs/windows-users.md
        ${WINDOWS_ZIP_TEXTS}/windows-users.txt @ONLY NEWLINE_STYLE CRLF)
    install(TARGETS vivad-updater vivad-flash RUNTIME DESTINATION .)
    install(FILES ${WINDOWS_ZIP_TEXTS}/ReadMe.txt ${WINDOWS_ZIP_TEXTS}/windows-users.txt
        DESTINATION .)

    if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
        set(WINDOWS_ZIP_ARCHITECTURE x64)
    else()
        string(TOLOWER ${CMAKE_SYSTEM_PROCESSOR} WINDOWS_ZIP_ARCHITECTURE)
    endif()
    set(CPACK_GENERATOR ZIP)
    # Named after the window program, which is what a Windows user comes for; the zip unpacks
    # into a folder of the same name.
    set(CPACK_PACKAGE_FILE_NAME
        vivad-updater-${PROJECT_VERSION}-windows-${WINDOWS_ZIP_ARCHITECTURE})
elseif(NOT VIVAD_SANITIZED)
    # --- the Debian package ---
    # Not from a sanitized build: a binary that needs the sanitizers' runtime is not one to ship.
    set(VIVAD_DEBIAN_PACKAGE ON)
    include(${CMAKE_CURRENT_LIST_DIR}/debian_package.cmake)
endif()

include(CPack)
