# Installation and the Debian package (cpack -G DEB): the three programs, the window's
# desktop entry and icon, man pages made from the programs' --help (with the sections of
# packaging/*.h2m), the copyright and changelog, and the udev rule that lets the dialout
# group open the phones' ports. tests/package/check_package.sh runs lintian on the package.
include(GNUInstallDirs)

set(_programs zembra-cli zembra-phone-sim)
if(TARGET zembra)
  list(APPEND _programs zembra)
endif()
install(TARGETS ${_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

find_program(HELP2MAN help2man)
find_program(GZIP gzip REQUIRED)
set(_man_dir ${PROJECT_BINARY_DIR}/man)
if(HELP2MAN)
  set(_pages)
  set(_name_zembra "operator window that writes firmware images into mobile phones")
  set(_help_zembra "--help")
  set(_name_zembra-cli "write firmware images into mobile phones (command line, station, records)")
  set(_help_zembra-cli "--multi --help")  # the single, multi and station options
  set(_name_zembra-phone-sim "simulated phone for the Zembra download protocol")
  set(_help_zembra-phone-sim "--help")
  # Every page: the environment of the shared folders, then the program's own sections;
  # zembra-cli's records subcommand gets a section of its own.
  set(_records_h2m ${_man_dir}/zembra-cli-records.h2m)
  add_custom_command(
    OUTPUT ${_records_h2m}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${_man_dir}
    COMMAND sh -c "{ echo '[RECORDS]'; echo '.nf'; \"$1\" records --help; echo '.fi'; } > \"$2\""
            sh $<TARGET_FILE:zembra-cli> ${_records_h2m}
    DEPENDS zembra-cli
    VERBATIM)
  foreach(_program ${_programs})
    set(_includes ${PROJECT_SOURCE_DIR}/packaging/runtime-folders.h2m
                  ${PROJECT_SOURCE_DIR}/packaging/${_program}.h2m)
    if(_program STREQUAL "zembra-cli")
      list(APPEND _includes ${_records_h2m})
    endif()
    set(_include_args)
    foreach(_include ${_includes})
      list(APPEND _include_args --include=${_include})
    endforeach()
    set(_page ${_man_dir}/${_program}.1.gz)
    add_custom_command(
      OUTPUT ${_page}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${_man_dir}
      COMMAND ${HELP2MAN} ${_include_args} --no-info --no-discard-stderr
              --version-string=${PROJECT_VERSION}
              "--help-option=${_help_${_program}}" "--name=${_name_${_program}}"
              --output=${_man_dir}/${_program}.1 $<TARGET_FILE:${_program}>
      COMMAND ${GZIP} -9nf ${_man_dir}/${_program}.1
      DEPENDS ${_program} ${_includes}
      COMMENT "Man page of ${_program} from its --help"
      VERBATIM)
    list(APPEND _pages ${_page})
  endforeach()
  add_custom_target(man_pages ALL DEPENDS ${_pages})
  install(FILES ${_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(STATUS "help2man missing: no man pages")
endif()

# The package's documents: its copyright and its changelog (gzip -9n: no name, no time, so
# that a rebuild gives the same bytes).
set(_changelog ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
add_custom_command(
  OUTPUT ${_changelog}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/packaging
  COMMAND sh -c "\"$1\" -9n -c \"$2\" > \"$3\"" sh ${GZIP}
          ${PROJECT_SOURCE_DIR}/packaging/changelog ${_changelog}
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog
  VERBATIM)
add_custom_target(package_changelog ALL DEPENDS ${_changelog})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${_changelog}
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

if(TARGET zembra)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/zembra.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/zembra.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()
# udev reads /lib/udev/rules.d whatever the install prefix is.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/60-zembra.rules DESTINATION /lib/udev/rules.d)

set(ZEMBRA_PACKAGE_MAINTAINER
    "Zembra maintainers <maintainers@users.noreply.c-seed-612380a2.example>"
    CACHE STRING "Maintainer field of the Debian package (name <address>)")
set(CPACK_PACKAGE_NAME zembra)
set(CPACK_PACKAGE_VENDOR "Zembra")
set(CPACK_PACKAGE_CONTACT "${ZEMBRA_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Writes firmware images into mobile phones over USB or a serial link")
# Lines of at most 80 characters, as Debian's control files want them.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "Zembra writes one code image and up to six font images into mobile phones:\n"
       "one at a time over USB or UART, or eight at once over USB. It has an operator\n"
       "window (zembra), a command-line front end with a hands-off station mode and\n"
       "download records (zembra-cli) and a simulated phone (zembra-phone-sim).")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-nanum")
include(CPack)
