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

install(TARGETS trembit RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/resources/ DESTINATION ${CMAKE_INSTALL_DATADIR}/trembit)
install(FILES ${PROJECT_SOURCE_DIR}/data/trembit.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
foreach(size IN ITEMS 48 64 128 256)
  install(FILES ${PROJECT_SOURCE_DIR}/data/icons/trembit-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME trembit.png)
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/data/icons/trembit.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/data/trembit.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The Debian package.
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "trembit")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "Trembit developers")
set(CPACK_PACKAGE_CONTACT "Trembit developers")
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
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Trembit developers")
set(CPACK_DEBIAN_PACKAGE_SECTION "science")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The libraries the binary links (dpkg-shlibdeps on it gives these names and lowest versions;
# tests/install/install_test.sh checks nothing it names is missing here), and the font the
# labels and title are set in.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "libc6 (>= 2.35), libstdc++6 (>= 12), libgcc-s1 (>= 3.0), libsdl2-2.0-0 (>= 2.26.0), libcairo2 (>= 1.6.0), libpixman-1-0 (>= 0.40.0), libpango-1.0-0 (>= 1.44.3), libpangocairo-1.0-0 (>= 1.22.0), libglib2.0-0 (>= 2.35.9), libdeflate0 (>= 1.0), fonts-dejavu-core")

set(CPACK_SOURCE_GENERATOR "TGZ")
set(CPACK_SOURCE_IGNORE_FILES "/[.]git/" "/build/" "/out/")

include(CPack)
