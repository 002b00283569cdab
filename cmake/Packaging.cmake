# The Linux package: `cpack` in the build tree (or `cpack -G DEB`) writes
# kx-firmware-updater_<version>_<arch>.deb with the updater, its desktop entry and its icon.
# tools/check-package.sh builds and checks it.

include(GNUInstallDirs)

install(TARGETS kx-firmware-updater RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES resources/kx-firmware-updater.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES resources/kx-firmware-updater.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps)
install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/kx-firmware-updater RENAME copyright)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kx-firmware-updater)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tavrek")
set(KX_PACKAGE_MAINTAINER "KX Firmware Updater maintainers <maintainers@example.invalid>"
    CACHE STRING "The Maintainer field of the Linux package")
set(CPACK_PACKAGE_CONTACT "${KX_PACKAGE_MAINTAINER}")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_LICENSE GPL-3.0)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

# The first line is the summary; CPack formats the rest.
set(kxDescription "Firmware updater for the Tavrek KX DJ controller\n"
    "Finds the controller's three MIDI ports, shows the firmware versions it reports beside "
    "the ones the updater carries, and writes the five embedded firmware images to it.")
if(NOT KX_FIRMWARE_DIR)
    string(APPEND kxDescription "\n\nTHIS BUILD CARRIES STAND-IN FIRMWARE IMAGES: never use it to update a real device.")
endif()
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION ${kxDescription})

# The libraries the executable links are found by dpkg-shlibdeps (package dpkg-dev). JUCE opens
# the X11 libraries with dlopen, which no tool can see, and finds its typefaces through
# fontconfig's configuration file (without it no text is drawn): those are listed here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libx11-6, libxext6, libxcursor1, libxinerama1, libxrandr2, fontconfig-config, fonts-dejavu-core")
# Only for keeping the screen saver off, which the updater never asks for.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libxss1")

include(CPack)
