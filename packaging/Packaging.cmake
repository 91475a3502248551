# Installation and the Debian package (cpack -G DEB): the three programs, the window's
# desktop entry and icon, man pages made from the programs' --help, and the udev rule that
# lets the dialout group open the phones' ports.
include(GNUInstallDirs)

set(_programs zembra-cli zembra-phone-sim)
if(TARGET zembra)
  list(APPEND _programs zembra)
endif()
install(TARGETS ${_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

find_program(HELP2MAN help2man)
find_program(GZIP gzip)
if(HELP2MAN AND GZIP)
  set(_man_dir ${PROJECT_BINARY_DIR}/man)
  set(_pages)
  set(_name_zembra-cli "write firmware images into mobile phones (command line, station, records)")
  set(_help_zembra-cli "--multi --help")  # the single, multi and station options
  set(_name_zembra-phone-sim "simulated phone for the Zembra download protocol")
  set(_help_zembra-phone-sim "--help")
  # zembra-cli's records subcommand gets a section of its own.
  set(_include_zembra-cli ${_man_dir}/zembra-cli-records.h2m)
  add_custom_command(
    OUTPUT ${_include_zembra-cli}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${_man_dir}
    COMMAND sh -c "{ echo '[RECORDS]'; echo '.nf'; \"$1\" records --help; echo '.fi'; } > \"$2\""
            sh $<TARGET_FILE:zembra-cli> ${_include_zembra-cli}
    DEPENDS zembra-cli
    VERBATIM)
  set(_include_zembra-phone-sim "")
  foreach(_program zembra-cli zembra-phone-sim)
    set(_page ${_man_dir}/${_program}.1.gz)
    set(_include_args)
    if(_include_${_program})
      set(_include_args --include=${_include_${_program}})
    endif()
    add_custom_command(
      OUTPUT ${_page}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${_man_dir}
      COMMAND ${HELP2MAN} ${_include_args} --no-info --no-discard-stderr
              --version-string=${PROJECT_VERSION}
              "--help-option=${_help_${_program}}" "--name=${_name_${_program}}"
              --output=${_man_dir}/${_program}.1 $<TARGET_FILE:${_program}>
      COMMAND ${GZIP} -9nf ${_man_dir}/${_program}.1
      DEPENDS ${_program} ${_include_${_program}}
      COMMENT "Man page of ${_program} from its --help"
      VERBATIM)
    list(APPEND _pages ${_page})
  endforeach()
  add_custom_target(man_pages ALL DEPENDS ${_pages})
  install(FILES ${_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(STATUS "help2man or gzip missing: no man pages")
endif()

if(TARGET zembra)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/zembra.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/zembra.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()
# udev reads /lib/udev/rules.d whatever the install prefix is.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/60-zembra.rules DESTINATION /lib/udev/rules.d)

set(CPACK_PACKAGE_NAME zembra)
set(CPACK_PACKAGE_VENDOR "Zembra")
set(CPACK_PACKAGE_CONTACT "Zembra maintainers <zembra@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Writes firmware images into mobile phones over USB or a serial link")
set(CPACK_PACKAGE_DESCRIPTION
    "Zembra writes one code image and up to six font images into mobile phones: one at a time over USB or UART, or eight at once over USB. It has an operator window (zembra), a command-line front end with a hands-off station mode and download records (zembra-cli) and a simulated phone (zembra-phone-sim).")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-nanum")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://localhost/zembra")
include(CPack)
