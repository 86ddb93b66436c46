# Run by `cmake --install` and by cpack: a unit (the station's, serve's) with ExecStart in the
# bin folder of the prefix being installed to, installed (under DESTDIR) to its systemd folder.
#   K350_UNIT_TEMPLATE  the unit's template (packaging/k350-station@.service.in, ...)
#   K350_UNIT_MADE      where the unit is made before it is installed
#   K350_BINDIR         the programs' folder, relative to the prefix or absolute
if(IS_ABSOLUTE "${K350_BINDIR}")
    set(K350_INSTALL_FULL_BINDIR "${K350_BINDIR}")
else()
    set(K350_INSTALL_FULL_BINDIR "${CMAKE_INSTALL_PREFIX}/${K350_BINDIR}")
endif()
configure_file("${K350_UNIT_TEMPLATE}" "${K350_UNIT_MADE}" @ONLY)
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/lib/systemd/system" TYPE FILE
     FILES "${K350_UNIT_MADE}")
