# Where `cmake --install` puts the program and its data, and the Debian package built from the
# same tree with `cpack -G DEB`.

include(GNUInstallDirs)

# The icon is drawn by our own tool; the committed PNGs and SVG under data/icons are its output,
# redrawn with `build/release/draw_icon data/icons`.
if(TREMBIT_BUILD_TOOLS)
  pkg_check_modules(CAIRO_SVG REQUIRED IMPORTED_TARGET cairo-svg)
  add_executable(draw_icon ${PROJECT_SOURCE_DIR}/tools/draw_icon.cpp)
  target_link_libraries(draw_icon PRIVATE PkgConfig::CAIRO_SVG)
  target_include_directories(draw_icon PRIVATE ${PROJECT_SOURCE_DIR})
endif()

# The program finds its resources at <executable>/../share/trembit, so the two folders must keep
# that relation for an installed copy to start.
if(CMAKE_INSTALL_BINDIR MATCHES "/" OR NOT CMAKE_INSTALL_DATADIR STREQUAL "share")
  message(WARNING "trembit looks for its resources in <executable>/../share/trembit; with "
                  "CMAKE_INSTALL_BINDIR=${CMAKE_INSTALL_BINDIR} and "
                  "CMAKE_INSTALL_DATADIR=${CMAKE_INSTALL_DATADIR} the installed program will not find them")
endif()

# The manual and the package's changelog are installed compressed as Debian wants them: gzip at
# its best, with no file name or time stamp, so the same text always gives the same bytes.
find_program(TREMBIT_GZIP gzip REQUIRED)
set(_packed "${CMAKE_CURRENT_BINARY_DIR}/packed")
set(_gzipped)
foreach(pair IN ITEMS "data/trembit.1|trembit.1" "data/debian/changelog|changelog.Debian")
  string(REPLACE "|" ";" pair "${pair}")
  list(GET pair 0 source)
  list(GET pair 1 name)
  add_custom_command(
    OUTPUT ${_packed}/${name}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${_packed}
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/${source} ${_packed}/${name}
    COMMAND ${TREMBIT_GZIP} -9nf ${_packed}/${name}
    DEPENDS ${PROJECT_SOURCE_DIR}/${source}
    VERBATIM)
  list(APPEND _gzipped ${_packed}/${name}.gz)
endforeach()
add_custom_target(trembit_packed_docs ALL DEPENDS ${_gzipped})

# The package's copyright file, in Debian's machine-readable format, carries the licence's own
# text from LICENSE: each line indented by one space, a blank line written as " .".
file(READ ${PROJECT_SOURCE_DIR}/LICENSE _license)
string(FIND "${_license}" "Permission is hereby granted" _grant)
string(SUBSTRING "${_license}" ${_grant} -1 _license)
string(STRIP "${_license}" _license)
string(REGEX REPLACE "\n\n" "\n.\n" _license "${_license}")
string(REGEX REPLACE "\n" "\n " LICENSE_TEXT " ${_license}")
configure_file(${PROJECT_SOURCE_DIR}/data/debian/copyright.in ${_packed}/copyright @ONLY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)

install(TARGETS trembit RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/resources/ DESTINATION ${CMAKE_INSTALL_DATADIR}/trembit)
install(FILES ${PROJECT_SOURCE_DIR}/data/${TREMBIT_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/data/${TREMBIT_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
foreach(size IN ITEMS 48 64 128 256)
  install(FILES ${PROJECT_SOURCE_DIR}/data/icons/trembit-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME ${TREMBIT_APP_ID}.png)
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/data/icons/trembit.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME ${TREMBIT_APP_ID}.svg)
install(FILES ${PROJECT_SOURCE_DIR}/data/trembit.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME trembit)
install(FILES ${_packed}/trembit.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${_packed}/copyright ${_packed}/changelog.Debian.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${PROJECT_SOURCE_DIR}/data/debian/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME trembit)

# The Debian package. Its version carries a Debian revision, so the changelog is
# changelog.Debian.gz and its first entry must name the same version.
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "trembit")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_PACKAGE_VENDOR "The Trembit developers")
set(CPACK_PACKAGE_CONTACT "The Trembit developers <developers@trembit.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "strip-chart recorder for the machine's accelerometer")
# Kept under 80 columns a line, as dpkg shows it.
set(CPACK_PACKAGE_DESCRIPTION "Trembit draws the vibrations of the machine it runs on as a pen trace on
scrolling chart paper. Samples come from an IIO accelerometer, a game
controller's motion sensor, standard input, a recorded CSV file or a built-in
simulation. It runs in a window, full screen on a board without a desktop, or
headless to replay recordings and take screenshots.")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION "science")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# The libraries the binary links, as dpkg-shlibdeps works them out; then what is not linked but
# needed all the same: the font the labels and title are set in, and what SDL loads when a window
# needs a renderer (Wayland, KMS/DRM, full screen): EGL and OpenGL or OpenGL ES.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-dejavu-core, libegl1, libgl1 | libgles2")
# A Wayland desktop that leaves decorations to its clients draws the window's title bar through it.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libdecor-0-plugin-1-cairo")

set(CPACK_SOURCE_GENERATOR "TGZ")
set(CPACK_SOURCE_IGNORE_FILES "/[.]git/" "/build/" "/out/")

include(CPack)
