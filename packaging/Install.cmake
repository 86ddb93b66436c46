# What `cmake --install` puts on the system, and the Debian package made by CPack.
include(GNUInstallDirs)
install(TARGETS k350-terminal k350ctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES packaging/k350ctl.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES packaging/k350ctl.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME k350ctl)
install(FILES packaging/70-k350.rules DESTINATION lib/udev/rules.d)
install(FILES packaging/71-k350-plugdev.rules
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/k350-terminal/examples)
install(FILES packaging/k350-terminal.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES packaging/k350-terminal.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/k350-terminal)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME k350-terminal)
set(CPACK_PACKAGE_VENDOR "K-350 terminal developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Service terminal for K-350 controller boards")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "K-350 terminal developers <k350@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Library dependencies (Qt 6, libusb-0.1) come from dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# qt6-translations-l10n: Qt's own texts (dialogs, message boxes) in Russian.
# libqt6charts6: the statistics chart.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "udev, qt6-qpa-plugins, qt6-translations-l10n, libqt6charts6")
include(CPack)
