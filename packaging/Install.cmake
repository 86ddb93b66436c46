# What `cmake --install` puts on the system, and the Debian package made by CPack.
include(GNUInstallDirs)
set(K350_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/k350-terminal)

# Man pages and the changelog are installed compressed, without a timestamp in
# the gzip header, so the package is the same whenever it is built.
function(k350_gzipped source destination)
    get_filename_component(name ${source} NAME)
    set(output ${CMAKE_BINARY_DIR}/packaging/${name}.gz)
    add_custom_command(OUTPUT ${output}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
        COMMAND sh -c "gzip -9n -c \"$0\" > \"$1\"" ${CMAKE_SOURCE_DIR}/${source} ${output}
        DEPENDS ${CMAKE_SOURCE_DIR}/${source} VERBATIM)
    string(MAKE_C_IDENTIFIER ${name} target)
    add_custom_target(gzip_${target} ALL DEPENDS ${output})
    install(FILES ${output} DESTINATION ${destination})
endfunction()

install(TARGETS k350-terminal k350ctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The programs find their libusb-0.1 API library (usb/, over libusb-1.0) in a private folder.
install(TARGETS k350usb LIBRARY DESTINATION ${K350_PRIVATE_LIBDIR} NAMELINK_SKIP)
set_target_properties(k350-terminal k350ctl PROPERTIES
    INSTALL_RPATH "$ORIGIN/../${K350_PRIVATE_LIBDIR}")
k350_gzipped(packaging/k350-terminal.1 ${CMAKE_INSTALL_MANDIR}/man1)
k350_gzipped(packaging/k350ctl.1 ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES packaging/k350ctl.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME k350ctl)
install(FILES packaging/70-k350.rules DESTINATION lib/udev/rules.d)
install(FILES packaging/71-k350-plugdev.rules DESTINATION ${K350_DOC_DIR}/examples)
# The unattended station, k350-station@RECIPE; its ExecStart names the installed k350ctl. The
# unit is made when it is installed, for the prefix of that install (cpack's /usr, cmake
# --install --prefix ...), since a package may be made from a build configured for another.
# The build tree's copy, for the configured prefix, is the one the tests read.
set(K350_INSTALL_FULL_BINDIR ${CMAKE_INSTALL_FULL_BINDIR})
configure_file(packaging/k350-station@.service.in
               ${CMAKE_BINARY_DIR}/packaging/k350-station@.service @ONLY)
install(CODE "
    set(K350_UNIT_TEMPLATE \"${CMAKE_SOURCE_DIR}/packaging/k350-station@.service.in\")
    set(K350_UNIT_MADE \"${CMAKE_BINARY_DIR}/packaging/installed/k350-station@.service\")
    set(K350_BINDIR \"${CMAKE_INSTALL_BINDIR}\")
    include(\"${CMAKE_SOURCE_DIR}/packaging/InstallStationUnit.cmake\")"
    COMPONENT station-unit)
# The line live for the line's network, k350-serve, made the same way.
configure_file(packaging/k350-serve.service.in ${CMAKE_BINARY_DIR}/packaging/k350-serve.service
               @ONLY)
install(CODE "
    set(K350_UNIT_TEMPLATE \"${CMAKE_SOURCE_DIR}/packaging/k350-serve.service.in\")
    set(K350_UNIT_MADE \"${CMAKE_BINARY_DIR}/packaging/installed/k350-serve.service\")
    set(K350_BINDIR \"${CMAKE_INSTALL_BINDIR}\")
    include(\"${CMAKE_SOURCE_DIR}/packaging/InstallStationUnit.cmake\")"
    COMPONENT serve-unit)
install(FILES packaging/k350-terminal.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES packaging/k350-terminal.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
# The repository's README speaks of build folders and pictures the package does
# not hold; the package has a README of its own.
install(FILES packaging/README.package DESTINATION ${K350_DOC_DIR} RENAME README)
# The line's manual, which the package's README points to.
install(FILES docs/line.md DESTINATION ${K350_DOC_DIR})
install(FILES packaging/copyright DESTINATION ${K350_DOC_DIR})
k350_gzipped(packaging/changelog ${K350_DOC_DIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME k350-terminal)
set(CPACK_PACKAGE_VENDOR "K-350 terminal developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "service terminal for K-350 controller boards")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "The K-350 service terminal is a desktop program for the K-350A and K-350B
controller boards, connected to the PC over USB. It reads the board's
configuration record from its EEPROM and writes it back, keeps configurations
in files, edits the codec, LF amplifier, recorder and vocoder settings (live on
the running board), downloads firmware into the board's SPI flash or through
its boot loader, and shows the link statistics and a trace of the board's
serial lines. Its user interface is in Russian.
.
The package also holds k350ctl, the same board operations on the command line
for benches and scripts, and a udev rule that gives the user at the machine's
seat access to the boards.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# A distributor packaging the terminal sets its own address (dch's convention).
if(DEFINED ENV{DEBEMAIL})
    set(K350_MAINTAINER_DEFAULT "$ENV{DEBFULLNAME} <$ENV{DEBEMAIL}>")
else()
    set(K350_MAINTAINER_DEFAULT "K-350 terminal developers <k350-terminal@example.org>")
endif()
set(K350_PACKAGE_MAINTAINER "${K350_MAINTAINER_DEFAULT}" CACHE STRING
    "Maintainer field of the Debian package")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${K350_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
# Library dependencies (Qt 6 with Qt Charts, and libusb-1.0-0 through the programs' private
# libk350usb: Debian's libusb-0.1-4 can hang in a transfer and misreports a missing access
# right) come from dpkg-shlibdeps, which also reads the private library.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "${CMAKE_BINARY_DIR}")
# qt6-qpa-plugins: the platform plugins that open the window.
# qt6-translations-l10n: Qt's own texts (dialogs, message boxes) in Russian.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "udev, qt6-qpa-plugins, qt6-translations-l10n")
include(CPack)
