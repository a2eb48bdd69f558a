# What is installed is built by whoever installs it (scripts/package builds
# exactly those targets first): installing, and so CPack, never builds the
# whole tree, whose tests and benchmarks the package does not contain.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)

# Installing and packaging. `cmake --install` lays the program out as a
# Linux desktop expects: the program and its tools in bin/, what it reads in
# share/quilvane/ (the rules for the data are in assets/assets.cmake, beside
# the commands that make it), the desktop entry, icons and AppStream file in
# their share/ directories. `cpack -G DEB` (scripts/package) turns that into
# a Debian package.

install(TARGETS quilvane quilvane-cache quilvane-samples quilvane-skin-preview skinc
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
include(${CMAKE_SOURCE_DIR}/cmake/Docs.cmake)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quilvane)
set(CPACK_PACKAGE_VENDOR "Quilvane")
set(CPACK_PACKAGE_CONTACT "${QUILVANE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Photo album and picture viewer")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://quilvane.org")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QUILVANE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_RELEASE ${QUILVANE_DEBIAN_REVISION})
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Quilvane finds the pictures in the pictures folder and on memory
cards, groups them into albums by folder and keeps one small cache file
per picture, so that albums, thumbnails and full-screen pictures with
continuous zoom, panning and swipes show without waiting for a large
picture to decode. It draws its whole interface itself from a skin.")
# The shared libraries the program links (SDL2, libjpeg, FreeType,
# fontconfig, libpng, the C++ runtime) as dpkg-shlibdeps finds them; the
# texts need a sans face for fontconfig to find.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-dejavu-core | fonts-freefont-ttf")
# Help pages open in the desktop's browser through xdg-open.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
include(CPack)
