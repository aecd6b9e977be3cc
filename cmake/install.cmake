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

# What every Debian package carries in its documentation folder: the machine-readable copyright
# (the project's licence as the AppStream metadata states it) and the changelog, compressed as
# Debian policy asks.
set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/pixmoor)
set(changelog_gz ${CMAKE_BINARY_DIR}/share/doc/pixmoor/changelog.gz)
add_custom_command(
  OUTPUT ${changelog_gz}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/share/doc/pixmoor
  COMMAND sh -c "gzip -9nc < \"$1\" > \"$2\"" sh
          ${CMAKE_SOURCE_DIR}/resources/package/changelog ${changelog_gz}
  DEPENDS ${CMAKE_SOURCE_DIR}/resources/package/changelog
  COMMENT "Compressing the changelog"
  VERBATIM)
add_custom_target(pixmoor_changelog ALL DEPENDS ${changelog_gz})
install(FILES ${CMAKE_SOURCE_DIR}/resources/package/copyright ${changelog_gz}
        DESTINATION ${doc_dir})

# The Debian package: files under /usr, the shared libraries' packages found by dpkg-shlibdeps,
# plus the packages of what Qt loads at run time as plugins, which dpkg-shlibdeps cannot see:
# - libqt6svg6: the SVG icon engine and image format; every tool button and the window icon are
#   SVG, and without them the tool bar is blank. The program itself uses no QtSvg symbol, so the
#   library is not linked (Debian's linker drops it anyway with --as-needed).
# - libqt6sql6-sqlite: Qt Help's SQLite driver (the help collection is an SQLite database).
# - qt6-wayland: the Wayland platform plugin, which Qt picks by itself in a Wayland session
#   (WAYLAND_DISPLAY set); without it the program runs through XWayland.
# The rest of what it loads comes with packages the libraries bring: the xcb platform plugin, the
# compose input context and the GIF, ICO and JPEG image formats with libqt6gui6, the CUPS print
# plugin with libqt6printsupport6, SANE's drivers with libsane1, GIO (the trash) with
# libglib2.0-0.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pixmoor)
set(CPACK_PACKAGE_VERSION 1.00)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Browse and manage image files as thumbnails")
set(CPACK_PACKAGE_DESCRIPTION
    "Pixmoor shows a thumbnail of every file of one image type (BMP, GIF, JPEG,
icon, PCX, PNG, TIFF, WMF) in a directory, views images at their own size,
converts them to another format and colour depth, copies, moves, renames and
deletes files, prints thumbnail sheets and single images, scans and captures
the screen.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The Pixmoor developers <developers@pixmoor.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6, libqt6sql6-sqlite, qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
