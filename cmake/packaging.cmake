# The Debian packages: `cmake --build --preset release --target package` writes two packages
# into the build folder, each holding what its install component installs under /usr:
#
#   component `console`  -> tarnivel_<version>_<arch>.deb           the desktop console
#   component `headless` -> tarnivel-headless_<version>_<arch>.deb  what runs at the telescope
#                                                                   without a desktop
#
# Every install() names one of the two: `install(... COMPONENT headless)` puts a program, its
# data and its unit files into tarnivel-headless, which must never need Qt Gui, Widgets or
# Multimedia (a telescope computer installs it without a desktop stack). A rule without a
# COMPONENT lands in a third package, tarnivel-unspecified, which the end-to-end test refuses.
# dpkg-shlibdeps (dpkg-dev) derives each package's dependencies from the libraries its own
# programs link, so they follow whatever Qt and libindi the build used.
set(TARNIVEL_PACKAGE_MAINTAINER
    "Tarnivel maintainers <maintainers@users.noreply.c-seed-4fd73f71.example>"
    CACHE STRING "The Maintainer field of the Debian packages")

# The documents Debian wants in /usr/share/doc/<package> and the manual pages, compressed as
# dpkg would (gzip -9n: no name, no time stamp, so the packages stay reproducible). Made when
# CMake configures, so that an install straight from a build of other targets finds them too.
set(TARNIVEL_DEBIAN_SOURCE ${PROJECT_SOURCE_DIR}/resources/debian)
set(TARNIVEL_DEBIAN_BINARY ${PROJECT_BINARY_DIR}/debian)
file(MAKE_DIRECTORY ${TARNIVEL_DEBIAN_BINARY})
find_program(TARNIVEL_GZIP gzip REQUIRED)
function(tarnivel_gzip source target)
    execute_process(COMMAND ${TARNIVEL_GZIP} -9nc ${source} OUTPUT_FILE ${target}
        RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "gzip could not compress ${source}")
    endif()
    set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
endfunction()

# A native package: its changelog is the project's own, and its newest entry must be the
# version being built, or apt and the package would tell different stories.
file(STRINGS ${TARNIVEL_DEBIAN_SOURCE}/changelog newest LIMIT_COUNT 1)
if(NOT newest MATCHES "^tarnivel \\(${PROJECT_VERSION}\\) ")
    message(FATAL_ERROR "resources/debian/changelog begins with \"${newest}\": add an entry for "
        "version ${PROJECT_VERSION} at its top")
endif()
tarnivel_gzip(${TARNIVEL_DEBIAN_SOURCE}/changelog ${TARNIVEL_DEBIAN_BINARY}/changelog.gz)

foreach(component_package console:tarnivel headless:tarnivel-headless)
    string(REPLACE ":" ";" pair ${component_package})
    list(GET pair 0 component)
    list(GET pair 1 package)
    install(FILES ${TARNIVEL_DEBIAN_SOURCE}/copyright ${TARNIVEL_DEBIAN_BINARY}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endforeach()

foreach(page_component tarnivel:console tarnivel-sim:headless indi_tarnivel_focus:headless
        tarnivel-alpaca:headless)
    string(REPLACE ":" ";" pair ${page_component})
    list(GET pair 0 page)
    list(GET pair 1 component)
    tarnivel_gzip(${PROJECT_SOURCE_DIR}/resources/man/${page}.1
        ${TARNIVEL_DEBIAN_BINARY}/${page}.1.gz)
    install(FILES ${TARNIVEL_DEBIAN_BINARY}/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
        COMPONENT ${component})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_PACKAGE_NAME tarnivel)
set(CPACK_PACKAGE_VENDOR "Tarnivel")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# Left empty so that CPack does not put one summary above both descriptions: each package's
# description begins with its own.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
set(CPACK_DEBIAN_CONSOLE_PACKAGE_NAME tarnivel)
set(CPACK_DEBIAN_HEADLESS_PACKAGE_NAME tarnivel-headless)
# Debian shows the description as it is written, so it is broken into lines here.
string(CONCAT CPACK_DEBIAN_CONSOLE_DESCRIPTION
    "console for a motorised telescope focuser on a serial port\n"
    "Tarnivel drives a motorised telescope focuser on a serial port. The console\n"
    "jogs the focuser, moves it by fixed steps, goes to named saved positions with\n"
    "a final approach from one side, calibrates it against its end stops, reads\n"
    "three temperature sensors, switches the fans by hand or by rule and logs the\n"
    "temperatures.\n"
    "\n"
    "This package holds the desktop program. The INDI driver and the simulated\n"
    "controller for trying the console without hardware are in tarnivel-headless.")
string(CONCAT CPACK_DEBIAN_HEADLESS_DESCRIPTION
    "telescope focuser driver and simulator without a desktop\n"
    "The programs of Tarnivel that need no display, for the computer at the\n"
    "telescope. The INDI driver indi_tarnivel_focus makes a motorised focuser on a\n"
    "serial port available to imaging and autofocus software such as KStars/Ekos,\n"
    "on this computer or across the network, and reads the console's settings.\n"
    "tarnivel-alpaca serves the same focuser to ASCOM Alpaca clients (imaging\n"
    "software on Windows) over the network, with a systemd unit to run it.\n"
    "tarnivel-sim simulates the focuser's controller on a pseudo-terminal, for\n"
    "trying the console or an INDI client without hardware.")
set(CPACK_DEBIAN_PACKAGE_SOURCE tarnivel)
# The simulator is how the console is tried without hardware, and the driver how it is shared
# with INDI clients; a desktop that wants neither can leave them out.
set(CPACK_DEBIAN_CONSOLE_PACKAGE_RECOMMENDS "tarnivel-headless (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${TARNIVEL_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_VERBATIM_VARIABLES ON)
# Without this the package_source target would archive the build folders as well.
set(CPACK_SOURCE_GENERATOR TXZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\.git" "/build[^/]*/" "/out/" "/fuzz/corpus-run/" "\\.user$")
include(CPack)
