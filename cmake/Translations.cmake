# The interface in the user's language. Each language listed in po/LINGUAS has po/<language>.po,
# compiled to <build>/locale/<language>/LC_MESSAGES/trembit.mo, where the build tree's program
# looks (an installed one looks in share/locale beside share/trembit). With the tools, the build
# also makes <build>/po/trembit.pot, the template a translation starts from: the code's strings
# (the titles the application sets and the words of the window's title) and the interface file's.

include(GNUInstallDirs)
find_program(TREMBIT_MSGFMT msgfmt REQUIRED)
file(STRINGS ${PROJECT_SOURCE_DIR}/po/LINGUAS TREMBIT_LANGUAGES REGEX "^[a-zA-Z_@]+$")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/po/LINGUAS)

set(_catalogues)
foreach(language IN LISTS TREMBIT_LANGUAGES)
  set(_folder ${TREMBIT_BUILD_LOCALE_DIR}/${language}/LC_MESSAGES)
  add_custom_command(
    OUTPUT ${_folder}/trembit.mo
    COMMAND ${CMAKE_COMMAND} -E make_directory ${_folder}
    COMMAND ${TREMBIT_MSGFMT} --check --output-file=${_folder}/trembit.mo ${PROJECT_SOURCE_DIR}/po/${language}.po
    DEPENDS ${PROJECT_SOURCE_DIR}/po/${language}.po
    VERBATIM)
  list(APPEND _catalogues ${_folder}/trembit.mo)
  install(FILES ${_folder}/trembit.mo DESTINATION ${CMAKE_INSTALL_LOCALEDIR}/${language}/LC_MESSAGES)
endforeach()
add_custom_target(trembit_translations ALL DEPENDS ${_catalogues})
# The program is never built without the words it shows.
add_dependencies(trembit trembit_translations)

if(TREMBIT_BUILD_TOOLS)
  find_program(TREMBIT_XGETTEXT xgettext REQUIRED)
  add_executable(interface_strings ${PROJECT_SOURCE_DIR}/tools/interface_strings.cpp)
  target_link_libraries(interface_strings PRIVATE platform)

  # The application sets its buttons' titles with setTitle; the platform looks words up with
  # translate. xgettext takes the first string of an argument, so both branches of a choice
  # between two titles must each appear first somewhere.
  file(GLOB_RECURSE _code CONFIGURE_DEPENDS RELATIVE ${PROJECT_SOURCE_DIR}
       ${PROJECT_SOURCE_DIR}/Classes/*.cpp ${PROJECT_SOURCE_DIR}/platform/*.cpp)
  list(SORT _code)
  set(_po ${CMAKE_BINARY_DIR}/po)
  add_custom_command(
    OUTPUT ${_po}/trembit.pot
    COMMAND ${CMAKE_COMMAND} -E make_directory ${_po}
    COMMAND interface_strings ${TREMBIT_RESOURCES_DIR}/MainWindow.json resources/MainWindow.json
            ${_po}/interface.pot
    COMMAND ${TREMBIT_XGETTEXT} --from-code=UTF-8 --language=C++ --keyword=translate --keyword=translatePlural:1,2 --keyword=setTitle
            --package-name=trembit --package-version=${PROJECT_VERSION} --add-comments=Translators:
            --output=${_po}/code.pot ${_code}
    COMMAND ${TREMBIT_XGETTEXT} --from-code=UTF-8 --package-name=trembit --package-version=${PROJECT_VERSION}
            --output=${_po}/trembit.pot ${_po}/code.pot ${_po}/interface.pot
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    DEPENDS interface_strings ${TREMBIT_RESOURCES_DIR}/MainWindow.json ${_code}
    VERBATIM)
  add_custom_target(trembit_pot ALL DEPENDS ${_po}/trembit.pot)
endif()
