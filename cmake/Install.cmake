# What `cmake --install` (and so the package) puts besides the program: the desktop entry, so the
# application appears in the desktop's menu; its icon in the hicolor theme the entry names, as SVG
# and as PNG in the fixed sizes that panels and older menus look up; and the AppStream metainfo
# that software centres read.
include(GNUInstallDirs)
install(FILES ${PROJECT_SOURCE_DIR}/resources/mello-parlo.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/resources/com.fernwick.parlo.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${PROJECT_SOURCE_DIR}/resources/shell/mello-parlo.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# The PNG icons are rendered from the SVG at build time (rsvg-convert, Debian's librsvg2-bin).
set(PARLO_ICON_SIZES 16 22 24 32 48 64 128 256 512)
find_program(RSVG_CONVERT rsvg-convert)
if(RSVG_CONVERT)
  set(PARLO_ICON_FILES)
  foreach(size IN LISTS PARLO_ICON_SIZES)
    set(png ${CMAKE_BINARY_DIR}/icons/${size}x${size}/mello-parlo.png)
    add_custom_command(OUTPUT ${png}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/icons/${size}x${size}
      COMMAND ${RSVG_CONVERT} --width=${size} --height=${size} --format=png
              --output=${png} ${PROJECT_SOURCE_DIR}/resources/shell/mello-parlo.svg
      DEPENDS ${PROJECT_SOURCE_DIR}/resources/shell/mello-parlo.svg
      COMMENT "Rendering the ${size}x${size} icon" VERBATIM)
    install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
    list(APPEND PARLO_ICON_FILES ${png})
  endforeach()
  add_custom_target(parlo_icons ALL DEPENDS ${PARLO_ICON_FILES})
else()
  message(WARNING "rsvg-convert (librsvg2-bin) not found: only the SVG icon is installed")
endif()

# The screenshot of the metainfo: the preview render of the built program, published with each
# release at the address the metainfo names. Not part of `all`: it runs the program, which a
# sanitizer build should not do at build time.
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/screenshots/main.png
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/screenshots
  COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
          $<TARGET_FILE:mello-parlo> --render-preview ${CMAKE_BINARY_DIR}/screenshots/main.png
  DEPENDS mello-parlo
  COMMENT "Rendering the screenshot from the preview" VERBATIM)
add_custom_target(screenshots DEPENDS ${CMAKE_BINARY_DIR}/screenshots/main.png)
