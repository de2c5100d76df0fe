# Installation as a desktop program, and the Debian package built from it by cpack -G DEB.
include(GNUInstallDirs)

install(TARGETS zorvex zorvex-node zorvex-prefs RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_CURRENT_LIST_DIR}/zorvex.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/zorvex.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/net.zorvex.zorvex.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

set(CPACK_PACKAGE_NAME zorvex)
set(CPACK_PACKAGE_VENDOR "The Zorvex developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Peer-to-peer file-sharing client")
set(CPACK_PACKAGE_INSTALL_DIRECTORY zorvex)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The Zorvex developers <dev@zorvex.net>")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The Qt, OpenSSL and C++ libraries the binaries link, found by dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The SVG icon engine is a plugin, loaded at run time, so it is named here.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6")
include(CPack)
