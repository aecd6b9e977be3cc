# Installation onto a Linux desktop (cmake --install, any prefix) and the Debian package (cpack).
# The program, its help document (installed by help/), the menu entry, the icon in the hicolor
# theme as SVG and PNG, and the AppStream metadata.
set(PIXMOOR_APP_ID org.pixmoor.Pixmoor)

install(TARGETS pixmoor RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_SOURCE_DIR}/resources/desktop/${PIXMOOR_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/resources/desktop/${PIXMOOR_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${CMAKE_SOURCE_DIR}/resources/icons/pixmoor.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME ${PIXMOOR_APP_ID}.svg)

# The PNG sizes are rendered from the SVG at build time, so the two never drift apart.
set(icon_sizes 16 24 32 48 64 128 256)
set(icon_dir ${CMAKE_BINARY_DIR}/share/icons/hicolor)
set(icon_args "")
set(icon_files "")
foreach(size IN LISTS icon_sizes)
  set(png ${icon_dir}/${size}x${size}/apps/${PIXMOOR_APP_ID}.png)
  list(APPEND icon_args ${png} ${size})
  list(APPEND icon_files ${png})
  install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
set(icon_mkdirs "")
foreach(size IN LISTS icon_sizes)
  list(APPEND icon_mkdirs ${icon_dir}/${size}x${size}/apps)
endforeach()
add_custom_command(
  OUTPUT ${icon_files}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${icon_mkdirs}
  COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0
          $<TARGET_FILE:pixmoor-icons> ${CMAKE_SOURCE_DIR}/resources/icons/pixmoor.svg ${icon_args}
  DEPENDS pixmoor-icons ${CMAKE_SOURCE_DIR}/resources/icons/pixmoor.svg
  COMMENT "Rendering the program icon to PNG"
  VERBATIM)
add_custom_target(pixmoor_icons ALL DEPENDS ${icon_files})

# The Debian package: files under /usr, the shared libraries' packages found by dpkg-shlibdeps,
# plus what is loaded as a plugin and so invisible to it (Qt Help's SQLite driver).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pixmoor)
set(CPACK_PACKAGE_VERSION 1.00)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Browse and manage image files as thumbnails")
set(CPACK_PACKAGE_DESCRIPTION
    "Pixmoor shows a thumbnail of every file of one image type (BMP, GIF, JPEG, icon, PCX, PNG,\
 TIFF, WMF) in a directory, views images at their own size, converts them to another format\
 and colour depth, copies, moves, renames and deletes files, prints thumbnail sheets and single\
 images, scans and captures the screen.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The Pixmoor developers <developers@pixmoor.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-sqlite")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
