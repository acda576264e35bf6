# The Debian package, made by CPack (scripts/package-deb.sh): one package holding the program,
# its desktop files and the package's own copyright and changelog. Its dependencies are read from
# the shared libraries the program links (dpkg-shlibdeps).

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ts6satchel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Norvale)
set(CPACK_PACKAGE_CONTACT "${TS6_MAINTAINER}")
set(CPACK_PACKAGE_HOMEPAGE_URL https://www.norvale.example)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "support package builder for Tessarine installations")
set(CPACK_PACKAGE_DESCRIPTION
    "TS6Satchel finds the templates of a Tessarine application folder, lists\n"
    "every file that belongs to each one in a checkable tree-grid, and packs\n"
    "the files that stay checked, with a version manifest, the product's log\n"
    "folder and its configuration files, into one zip package for support.\n"
    "\n"
    "From the command line it builds a package at once, with no window, also\n"
    "on a machine without a display.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/DebStrip.cmake)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# Both components in one package: the "debian" one stays out of a plain "cmake --install".
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL program debian)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

include(CPack)
