# Installation and the Debian packages (cpack -G DEB, run by scripts/package).
#
# Two packages: "linetool" (the station's window and linetool-cli, the sample
# profile and its files as examples) and "romwright" (the programmer's window
# and romwright-cli with the chip database, settings and pictures they find
# beside themselves in /usr/lib/romwright, and the programmer's udev rule).
# The station's package also carries the bridges' udev rule, a tmpfiles.d
# entry and a postinst for operators who are not root (README.capabilities).
# Both carry a desktop entry, a hicolor icon, AppStream metainfo and man pages
# made from the programs' --help by help2man when it is installed.

include(GNUInstallDirs)

set(STATION_MAINTAINER "LineTool and Romwright maintainers <maintainers@users.noreply.c-seed-40a073ee.example>")
set(_pkg ${CMAKE_SOURCE_DIR}/packaging)
set(_romwright_libdir ${CMAKE_INSTALL_LIBDIR}/romwright)
if(CMAKE_INSTALL_LIBDIR MATCHES "/")  # the multiarch folder on Debian; the programs' folder needs none
  set(_romwright_libdir lib/romwright)
endif()

# Programs.
install(TARGETS linetool-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT linetool)
install(TARGETS romwright-cli RUNTIME DESTINATION ${_romwright_libdir} COMPONENT romwright)
install(FILES ${CMAKE_BINARY_DIR}/romwright/app/chips.db ${STATION_RESOURCE_DIR}/romwright/config.ini
        DESTINATION ${_romwright_libdir} COMPONENT romwright)
install(CODE "file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
              file(CREATE_LINK ../${_romwright_libdir}/romwright-cli
                   \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/romwright-cli\" SYMBOLIC)"
        COMPONENT romwright)
if(STATION_BUILD_GUI)
  install(TARGETS linetool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT linetool)
  install(TARGETS romwright RUNTIME DESTINATION ${_romwright_libdir} COMPONENT romwright)
  install(FILES ${STATION_RESOURCE_DIR}/romwright/main.bmp ${STATION_RESOURCE_DIR}/romwright/about.bmp
          DESTINATION ${_romwright_libdir} COMPONENT romwright)
  install(CODE "file(CREATE_LINK ../${_romwright_libdir}/romwright
                     \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/romwright\" SYMBOLIC)"
          COMPONENT romwright)
endif()

# The programmer for the logged-in user.
install(FILES ${STATION_RESOURCE_DIR}/60-romwright-programmer.rules DESTINATION lib/udev/rules.d COMPONENT romwright)
# The station's bridge disks: hidden from udisks2 and given to the operators'
# group; the folder of the station's mounts, the group's to write; the group
# and the programs' capabilities made by the postinst.
install(FILES ${STATION_RESOURCE_DIR}/linetool/90-linetool-bridges.rules DESTINATION lib/udev/rules.d
        COMPONENT linetool)
install(FILES ${_pkg}/linetool.tmpfiles DESTINATION lib/tmpfiles.d RENAME linetool.conf COMPONENT linetool)
set(CPACK_DEBIAN_LINETOOL_PACKAGE_CONTROL_EXTRA ${_pkg}/linetool-control/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)

# Examples: the sample profile and the files it names.
install(FILES "${STATION_RESOURCE_DIR}/kl_line_Tool v0.3.ini" ${STATION_RESOURCE_DIR}/121105_10_0000.bin
              ${STATION_RESOURCE_DIR}/wr_test.bin
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/linetool/examples COMPONENT linetool)
install(DIRECTORY ${STATION_RESOURCE_DIR}/preload DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/linetool/examples
        COMPONENT linetool)
install(FILES ${_pkg}/README.capabilities DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/linetool COMPONENT linetool)

foreach(_program linetool romwright)
  # Desktop integration.
  install(FILES ${_pkg}/${_program}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT ${_program})
  configure_file(${_pkg}/${_program}.metainfo.xml ${CMAKE_BINARY_DIR}/packaging/${_program}.metainfo.xml @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/${_program}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo
          COMPONENT ${_program})
  # Copyright and changelog, as Debian wants them in every package (a native
  # package: changelog.gz).
  set(PACKAGE ${_program})
  set(MAINTAINER ${STATION_MAINTAINER})
  configure_file(${_pkg}/copyright ${CMAKE_BINARY_DIR}/packaging/${_program}/copyright @ONLY)
  configure_file(${_pkg}/changelog.Debian ${CMAKE_BINARY_DIR}/packaging/${_program}/changelog.Debian @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/${_program}/copyright
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${_program} COMPONENT ${_program})
  execute_process(COMMAND gzip -9n -c ${CMAKE_BINARY_DIR}/packaging/${_program}/changelog.Debian
                  OUTPUT_FILE ${CMAKE_BINARY_DIR}/packaging/${_program}/changelog.gz)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/${_program}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${_program} COMPONENT ${_program})
endforeach()
install(FILES ${STATION_RESOURCE_DIR}/linetool/linetool.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT linetool)
install(FILES ${_pkg}/romwright.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        COMPONENT romwright)

# Man pages from --help (help2man), compressed as Debian wants them.
find_program(STATION_HELP2MAN help2man)
if(STATION_HELP2MAN)
  set(_man_pages)
  set(_man_programs "linetool-cli|the VX7700 production station without a window|$<TARGET_FILE:linetool-cli>|linetool"
                    "romwright-cli|the SPI flash and EEPROM programmer without a window|$<TARGET_FILE:romwright-cli>|romwright")
  if(STATION_BUILD_GUI)
    list(APPEND _man_programs "linetool|the window of the VX7700 production station|$<TARGET_FILE:linetool>|linetool"
                              "romwright|the window of the SPI flash and EEPROM programmer|$<TARGET_FILE:romwright>|romwright")
  endif()
  foreach(_entry ${_man_programs})
    string(REPLACE "|" ";" _fields "${_entry}")
    list(GET _fields 0 _name)
    list(GET _fields 1 _what)
    list(GET _fields 2 _exe)
    list(GET _fields 3 _component)
    set(_page ${CMAKE_BINARY_DIR}/packaging/man/${_name}.1.gz)
    add_custom_command(OUTPUT ${_page}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging/man
      COMMAND ${STATION_HELP2MAN} --no-info --no-discard-stderr --name=${_what} --output=${CMAKE_BINARY_DIR}/packaging/man/${_name}.1 ${_exe}
      COMMAND gzip -9n -f ${CMAKE_BINARY_DIR}/packaging/man/${_name}.1
      DEPENDS ${_name}
      COMMENT "Man page of ${_name}"
      VERBATIM)
    list(APPEND _man_pages ${_page})
    install(FILES ${_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${_component})
  endforeach()
  add_custom_target(man_pages ALL DEPENDS ${_man_pages})
endif()

# The Debian packages.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${STATION_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${STATION_MAINTAINER})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL linetool romwright)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_LINETOOL_PACKAGE_NAME linetool)
set(CPACK_DEBIAN_ROMWRIGHT_PACKAGE_NAME romwright)
set(CPACK_DEBIAN_LINETOOL_PACKAGE_DEPENDS "fdisk, ntfs-3g, fonts-liberation2, adduser, libcap2-bin")
set(CPACK_DEBIAN_LINETOOL_PACKAGE_RECOMMENDS "fusefat")
set(CPACK_DEBIAN_ROMWRIGHT_PACKAGE_DEPENDS "fonts-wqy-microhei, qt6-translations-l10n")
set(CPACK_COMPONENT_LINETOOL_DESCRIPTION
    "production station for VX7700 USB-SATA bridges\nFinds up to 16 USB 3.0-to-SATA bridge enclosures on one PC, ties each to\nits disk, then configures, flashes, restarts, partitions, formats, tests\nand preloads them in parallel, with a status grid, counters and a daily\nlog (linetool), or from the shell (linetool-cli).")
set(CPACK_COMPONENT_ROMWRIGHT_DESCRIPTION
    "USB programmer of SPI flash and EEPROM chips\nChip database and search, detect, read, erase, write, verify and auto,\na 16 MiB buffer with a hex view, binary and Intel HEX files and the\nprogrammer's maintenance, in a window (romwright) or from the shell\n(romwright-cli).")
include(CPack)
