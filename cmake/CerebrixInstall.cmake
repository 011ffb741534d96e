# Installs the programs as a desktop application and a shell command: the programs in bin,
# their configuration in share/cerebrix (installed by config/), the menu entry, the icon at
# every size desktops look for, the AppStream description and the manual pages; and packs
# them as a Debian package: cmake --build <release folder> --target package, or cpack -G DEB
# in that folder.
include(GNUInstallDirs)

if(TARGET cerebrix)
    install(TARGETS cerebrix RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

set(CEREBRIX_APP_ID org.cerebrix.Cerebrix)
install(FILES ${CMAKE_SOURCE_DIR}/data/${CEREBRIX_APP_ID}.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
foreach(size 16 22 24 32 48 64 128 256 512)
    install(FILES ${CMAKE_SOURCE_DIR}/data/icons/cerebrix-${size}.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
        RENAME cerebrix.png)
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/data/icons/cerebrix.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# The version, set once by project(), goes into the AppStream description and the manual
# pages; the manual pages are compressed, as Debian installs them.
set(CEREBRIX_VERSION ${PROJECT_VERSION})
configure_file(${CMAKE_SOURCE_DIR}/data/${CEREBRIX_APP_ID}.metainfo.xml
    ${CMAKE_BINARY_DIR}/data/${CEREBRIX_APP_ID}.metainfo.xml @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/data/${CEREBRIX_APP_ID}.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
set(CEREBRIX_MAN_PAGES "")
foreach(page cerebrix-run.1 cerebrix.1)
    configure_file(${CMAKE_SOURCE_DIR}/data/man/${page} ${CMAKE_BINARY_DIR}/man/${page} @ONLY)
    add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/man/${page}.gz
        COMMAND gzip -9nkf ${CMAKE_BINARY_DIR}/man/${page}
        DEPENDS ${CMAKE_BINARY_DIR}/man/${page}
        VERBATIM)
    list(APPEND CEREBRIX_MAN_PAGES ${CMAKE_BINARY_DIR}/man/${page}.gz)
endforeach()
add_custom_target(cerebrix_man_pages ALL DEPENDS ${CEREBRIX_MAN_PAGES})
install(FILES ${CEREBRIX_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME cerebrix)
set(CPACK_PACKAGE_VENDOR "Cerebrix developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "small IDE and fast command-line runner for Brainfuck")
set(CPACK_PACKAGE_DESCRIPTION "Cerebrix is a single-window IDE for the Brainfuck language: \
type or load a program, compile it, run it with byte-wise input, list it, and debug it \
forwards and backwards. cerebrix-run runs programs from a shell, fast.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Cerebrix developers <cerebrix@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The libraries the programs link, found by dpkg-shlibdeps (package dpkg-dev).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
