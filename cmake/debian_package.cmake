# The Debian package vivad-flash: the command-line updater, its udev rule, its manual page and
# documentation under /usr. The manual page and the documentation are made at build time from
# what they describe: the program's own --help, --version and usage, and the README.
find_program(HELP2MAN help2man REQUIRED)
find_program(GZIP gzip REQUIRED)

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "VIVAD Updater maintainers <vivad-updater@example.org>")
# The release's date, in seconds since 1970: the changelog entry's date and the manual page's
# footer both come from it, so that a later build of the same sources packs the same page.
set(DEBIAN_RELEASE_EPOCH 1796904000)
# string(TIMESTAMP) formats only the time SOURCE_DATE_EPOCH names; the caller's own value, if any,
# is put back for the rest of the configuration.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
    set(CALLERS_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
endif()
set(ENV{SOURCE_DATE_EPOCH} ${DEBIAN_RELEASE_EPOCH})
string(TIMESTAMP DEBIAN_RELEASE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
if(DEFINED CALLERS_SOURCE_DATE_EPOCH)
    set(ENV{SOURCE_DATE_EPOCH} "${CALLERS_SOURCE_DATE_EPOCH}")
else()
    unset(ENV{SOURCE_DATE_EPOCH})
endif()

set(DEBIAN_DOCS ${CMAKE_BINARY_DIR}/debian-docs)
file(MAKE_DIRECTORY ${DEBIAN_DOCS})
set(MAN_INCLUDE ${PROJECT_SOURCE_DIR}/docs/vivad-flash.h2m)
set(MAN_SYNOPSIS ${DEBIAN_DOCS}/synopsis.h2m)
set(MAN_PAGE ${DEBIAN_DOCS}/vivad-flash.1)
set(COMMAND_LINE_DOC ${DEBIAN_DOCS}/command-line.md)
set(CHANGELOG ${DEBIAN_DOCS}/changelog)

add_custom_command(OUTPUT ${MAN_SYNOPSIS}
    COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:vivad-flash> -DOUTPUT=${MAN_SYNOPSIS}
            -P ${PROJECT_SOURCE_DIR}/cmake/man_synopsis_from_usage.cmake
    DEPENDS vivad-flash ${PROJECT_SOURCE_DIR}/cmake/man_synopsis_from_usage.cmake
    COMMENT "Synopsis of the vivad-flash manual page"
    VERBATIM)
# gzip -n: no name or time stamp in the archive, so that the same page packs the same.
add_custom_command(OUTPUT ${MAN_PAGE}.gz
    COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${DEBIAN_RELEASE_EPOCH}
            ${HELP2MAN} --no-info --section=1 --name=${CPACK_PACKAGE_DESCRIPTION_SUMMARY}
            --include=${MAN_INCLUDE} --include=${MAN_SYNOPSIS} --output=${MAN_PAGE}
            $<TARGET_FILE:vivad-flash>
    COMMAND ${GZIP} -9nkf ${MAN_PAGE}
    DEPENDS vivad-flash ${MAN_INCLUDE} ${MAN_SYNOPSIS}
    COMMENT "Manual page vivad-flash(1)"
    VERBATIM)
add_custom_command(OUTPUT ${COMMAND_LINE_DOC}
    COMMAND ${CMAKE_COMMAND} -DMARKDOWN=${PROJECT_SOURCE_DIR}/README.md "-DHEADING=## Command line"
            -DOUTPUT=${COMMAND_LINE_DOC} -P ${PROJECT_SOURCE_DIR}/cmake/markdown_section.cmake
    DEPENDS ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/cmake/markdown_section.cmake
    COMMENT "The README's command-line section"
    VERBATIM)
# A native package's changelog, versioned as the project is.
configure_file(${PROJECT_SOURCE_DIR}/linux/debian/changelog.in ${CHANGELOG} @ONLY)
add_custom_command(OUTPUT ${CHANGELOG}.gz
    COMMAND ${GZIP} -9nkf ${CHANGELOG}
    DEPENDS ${CHANGELOG}
    VERBATIM)
add_custom_target(debian_docs ALL DEPENDS ${MAN_PAGE}.gz ${COMMAND_LINE_DOC} ${CHANGELOG}.gz)

# Whatever the umask of the machine that builds the package.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
install(TARGETS vivad-flash RUNTIME DESTINATION bin)
install(FILES ${PROJECT_SOURCE_DIR}/linux/70-vivad-tester.rules DESTINATION lib/udev/rules.d)
install(FILES ${MAN_PAGE}.gz DESTINATION share/man/man1)
install(FILES ${COMMAND_LINE_DOC} ${PROJECT_SOURCE_DIR}/linux/debian/copyright ${CHANGELOG}.gz
    DESTINATION share/doc/vivad-flash)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# No Debian revision: a native package, the project's version alone.
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The summary comes first, from CPACK_PACKAGE_DESCRIPTION_SUMMARY.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"vivad-flash rewrites the firmware of the VIVAD USB Power Delivery tester,
which is reached through its FTDI USB-to-serial bridge and the kernel's
ftdi_sio driver. It lists the attached testers, shows a tester's serial
number, hardware revision and firmware version, and programs the firmware
file that fits the tester's hardware revision, with the same steps and
messages as the Windows updater.

The package also installs a udev rule that lets the user logged in at the
seat open the tester and keeps ModemManager from probing it.")
