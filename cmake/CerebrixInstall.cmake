# Installs the IDE as a desktop application: the program, its menu entry and its icon in the
# sizes desktops look for.
include(GNUInstallDirs)

if(TARGET cerebrix)
    install(TARGETS cerebrix RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

install(FILES ${CMAKE_SOURCE_DIR}/data/cerebrix.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
foreach(size 32 48 64 128 256)
    install(FILES ${CMAKE_SOURCE_DIR}/data/icons/cerebrix-${size}.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
        RENAME cerebrix.png)
endforeach()
