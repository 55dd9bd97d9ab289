# The Debian package: `cmake --build --preset release --target package` writes
# tarnivel_<version>_<arch>.deb into the build folder, holding what `cmake --install` installs,
# under /usr. dpkg-shlibdeps (dpkg-dev) derives the dependencies from the linked libraries, so
# they follow whatever Qt and libindi the build used.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarnivel)
set(CPACK_PACKAGE_VENDOR "Tarnivel")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "console for a motorised telescope focuser on a serial port")
# Debian shows the description as it is written, so it is broken into lines here.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Tarnivel drives a motorised telescope focuser on a serial port. The console\n"
    "jogs the focuser, moves it by fixed steps, goes to named saved positions with\n"
    "a final approach from one side, calibrates it against its end stops, reads\n"
    "three temperature sensors, switches the fans by hand or by rule and logs the\n"
    "temperatures. tarnivel-sim simulates the controller for trying it without\n"
    "hardware.")
string(APPEND CPACK_PACKAGE_DESCRIPTION "\n\n"
        "The INDI driver indi_tarnivel_focus makes the same focuser available to\n"
        "imaging and autofocus software such as KStars/Ekos, on this computer or\n"
        "across the network.")
set(TARNIVEL_PACKAGE_MAINTAINER
    "Tarnivel maintainers <maintainers@users.noreply.c-seed-4fd73f71.example>"
    CACHE STRING "The Maintainer field of the Debian package")
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
