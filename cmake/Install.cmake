# What `make install` puts under the prefix (default ~/.local): the program, its desktop entry,
# its icon, its AppStream metadata and the third-party notices. The application id names the
# entry, the icon and the metadata alike.
include(GNUInstallDirs)
set(LOMEX_APP_ID cz.lomex.Lomex)

# The program is installed without its debug information (a tenth of the size), by any route.
install(CODE "set(CMAKE_INSTALL_DO_STRIP TRUE)")
install(TARGETS lomex RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_SOURCE_DIR}/resources/icons/${LOMEX_APP_ID}.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${CMAKE_SOURCE_DIR}/resources/THIRD_PARTY_NOTICES
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/lomex)

configure_file(${CMAKE_SOURCE_DIR}/resources/desktop/${LOMEX_APP_ID}.metainfo.xml
               ${CMAKE_BINARY_DIR}/${LOMEX_APP_ID}.metainfo.xml @ONLY)
set(LOMEX_VERSION ${PROJECT_VERSION})
install(FILES ${CMAKE_BINARY_DIR}/${LOMEX_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# The entry starts the installed program by its full path, so a menu that does not search
# ~/.local/bin still finds it; the prefix is known only when installing (cmake --install --prefix).
install(CODE "
  set(LOMEX_DESKTOP_IN \"${CMAKE_SOURCE_DIR}/resources/desktop/${LOMEX_APP_ID}.desktop.in\")
  set(LOMEX_DESKTOP_OUT \"${CMAKE_BINARY_DIR}/install/${LOMEX_APP_ID}.desktop\")
  set(LOMEX_BINDIR \"${CMAKE_INSTALL_BINDIR}\")
  set(LOMEX_DATADIR \"${CMAKE_INSTALL_DATADIR}\")
")
install(SCRIPT ${CMAKE_SOURCE_DIR}/cmake/InstallDesktopEntry.cmake)
