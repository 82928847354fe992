# The Debian package that scripts/package makes: vorlik-desktop_<version>-<build>_<arch>.deb in
# <build>/package, holding the install target under /usr. dpkg-shlibdeps finds the libraries it
# depends on; ffmpeg (for the Convert page) and xdg-utils (to open links in the desktop's
# browser) are recommended and a keyring to remember the client key in is
# suggested, since the program runs without any of them.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vorlik-desktop)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Vorlik)
set(CPACK_PACKAGE_CONTACT "Vorlik <desktop@vorlik.app>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "One window onto the Vorlik audio and video service")
# The summary is the package's synopsis; this is the text below it.
# Lines under 80 characters, as dpkg and apt show them.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Correction and Cinema (the service's pages), Convert (ffmpeg on your
computer with the service's presets) and Analysis (loudness and stream
reports computed by the service) in one window, with the command-line
client vorlik beside it.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The build number is the package's revision: 1.2.24 build 27 is 1.2.24-27.
set(CPACK_DEBIAN_PACKAGE_RELEASE ${VORLIK_BUILD_NUMBER})
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://vorlik.app)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "ffmpeg, xdg-utils")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS gnome-keyring)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/VorlikPackageFolders.cmake)
include(CPack)
