# The Debian package, made by CPack: `cpack -G DEB` in a build folder, or
# `make deb`. Included by the top-level CMakeLists.txt on Linux, after the
# install rules, which give the package its program and manual page.
set(CPACK_PACKAGE_NAME agesweep)
set(CPACK_PACKAGE_VERSION ${AGESWEEP_VERSION})
set(CPACK_PACKAGE_VENDOR "the agesweep developers")
set(CPACK_PACKAGE_CONTACT "agesweep developers <agesweep@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "delete files older than a given age from a folder")
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The staging tree's folders are made with these rights whatever the umask.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE
    GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# A native package: its Debian packaging is part of this source tree, so the
# version has no Debian revision and the Debian changelog is changelog.gz.
set(CPACK_DEBIAN_PACKAGE_VERSION ${AGESWEEP_VERSION})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The extended description; CPack puts the summary above it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"agesweep deletes the files of one folder, and optionally of all its
subfolders, that have reached a given age. The files are chosen by wildcard
patterns, and the age is counted in calendar intervals (years, quarters,
months, days, weeks, hours, minutes or seconds) from each file's last-write
or creation time.
.
It runs unattended from cron or a systemd timer, or asks before each
deletion, and can append a block describing each run to a log file. Links
are never followed and mount points are never entered.")

# The maintainer scripts make the log the units may write and take it away
# on purge; the logrotate file is the administrator's to change.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_LIST_DIR}/debian/postinst
    ${CMAKE_CURRENT_LIST_DIR}/debian/postrm
    ${CMAKE_CURRENT_LIST_DIR}/debian/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# Debian's layout beyond `cmake --install`: the manual page gzipped, the
# copyright file and the Debian changelog (packaging/debian/), the systemd
# units, the logrotate file, README.md with the example configuration, and
# the program without the compiler's notes.
set(AGESWEEP_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})
set(AGESWEEP_SOURCE_DIR ${CMAKE_SOURCE_DIR})
set(AGESWEEP_STRIP ${CMAKE_STRIP})
configure_file(${CMAKE_CURRENT_LIST_DIR}/deb_layout.cmake.in
               ${CMAKE_BINARY_DIR}/deb_layout.cmake @ONLY)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_BINARY_DIR}/deb_layout.cmake)

include(CPack)
