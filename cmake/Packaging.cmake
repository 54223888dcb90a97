# The Debian package of the Linux program, made by CPack (packaging/linux/
# build-deb runs it). Included only in the build made for installation
# (QUILLBECK_INSTALLED_LAYOUT): a program built to keep its files beside
# itself would fail every Save once in /usr/bin.
include(GNUInstallDirs)

set(QUILLBECK_MAINTAINER "The Quillbeck authors <authors@quillbeck.invalid>"
  CACHE STRING "The Maintainer of the Debian package, also named in its changelog")

set(linux_packaging ${PROJECT_SOURCE_DIR}/packaging/linux)
set(package_doc ${CMAKE_INSTALL_DATADIR}/doc/quillbeck)

install(TARGETS quillbeck RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${linux_packaging}/quillbeck.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# Switched off per user by a copy in ~/.config/autostart with Hidden=true.
install(FILES ${linux_packaging}/quillbeck-autostart.desktop
  DESTINATION /etc/xdg/autostart RENAME quillbeck.desktop)
foreach(size 16 22 24 32 48 64 128 256)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/icons/hicolor/${size}x${size}/apps/quillbeck.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/packaging/icons/quillbeck.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${linux_packaging}/copyright DESTINATION ${package_doc})

# The changelog in Debian's form and the manual page, compressed as Debian
# wants them: the highest level, no name or time stamp in the gzip header.
set(package_build ${CMAKE_BINARY_DIR}/package)
configure_file(${linux_packaging}/quillbeck.1 ${package_build}/quillbeck.1 @ONLY)
add_custom_command(
  OUTPUT ${package_build}/changelog.gz
  COMMAND bash ${linux_packaging}/debian-changelog ${PROJECT_SOURCE_DIR}/CHANGELOG.md quillbeck
    ${QUILLBECK_MAINTAINER} ${package_build}/changelog
  COMMAND gzip -9nf ${package_build}/changelog
  DEPENDS ${linux_packaging}/debian-changelog ${PROJECT_SOURCE_DIR}/CHANGELOG.md
  COMMENT "Writing the package's changelog"
  VERBATIM)
add_custom_command(
  OUTPUT ${package_build}/quillbeck.1.gz
  COMMAND gzip -9nkf ${package_build}/quillbeck.1
  DEPENDS ${package_build}/quillbeck.1
  VERBATIM)
add_custom_target(quillbeck_package_docs ALL
  DEPENDS ${package_build}/changelog.gz ${package_build}/quillbeck.1.gz)
install(FILES ${package_build}/changelog.gz DESTINATION ${package_doc})
install(FILES ${package_build}/quillbeck.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillbeck)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Quillbeck authors")
set(CPACK_PACKAGE_CONTACT ${QUILLBECK_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "resident folder pick-up service")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Quillbeck stays in the notification area and watches up to five folders,
each paired with a command line. Every two seconds it moves each file whose
name ends in .GDT from a watched folder into that folder's Temp subfolder and
starts the folder's command once per file.

The folders and commands are set in one small window. Settings.ini is kept in
~/.config/quillbeck and the logs in ~/.local/state/quillbeck. The program
starts at login; each user can switch that off.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt's Wayland platform, so the program runs natively on a Wayland desktop.
# Recommended rather than required: without it the same program still runs
# on X11 and, on most Wayland desktops, through XWayland, and an X11-only
# machine need not carry the Wayland libraries; apt installs recommended
# packages by default.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qt6-wayland)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${linux_packaging}/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Files land as root's, folders 0755 and files 0644 (the program 0755),
# whatever the build machine's umask.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
