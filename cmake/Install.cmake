# What `cmake --install` puts besides the program: the desktop entry, so the application appears in
# the desktop's menu, and its icon in the hicolor theme the entry names.
include(GNUInstallDirs)
install(FILES ${PROJECT_SOURCE_DIR}/resources/mello-parlo.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/resources/shell/mello-parlo.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
