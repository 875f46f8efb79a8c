# The packages, made by CPack from the install rules: on Linux a Debian package of vivad-flash,
# on Windows a zip of both programs. One version for everything: the project's.
set(CPACK_PACKAGE_NAME vivad-flash)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "VIVAD")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Firmware updater for the VIVAD USB Power Delivery tester")
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/packages)

if(WIN32)
    # --- the Windows zip ---
else()
    # --- the Debian package ---
    include(${CMAKE_CURRENT_LIST_DIR}/debian_package.cmake)
endif()

include(CPack)
