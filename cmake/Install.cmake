# Installation as a Linux desktop program, and the Debian package built by CPack.
include(GNUInstallDirs)

# The desktop entry names the start script by its installed path, known only at install time.
install(CODE "
  set(CHANTEST_DESKTOP_START \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBEXECDIR}/chantest/chantest-desktop-start\")
  configure_file(\"${CMAKE_SOURCE_DIR}/data/chantest.desktop\" \"${CMAKE_BINARY_DIR}/install-gen/chantest.desktop\" @ONLY)
")
install(TARGETS chantest chantest-report chantest-service RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The unattended station's unit, installed and not enabled. For the prefix /usr (the package)
# where systemd's own pkg-config file says (/lib/systemd/system on Debian bookworm); for any other
# prefix below it, so that a staged install writes nothing outside its folder.
pkg_get_variable(CHANTEST_SYSTEMD_UNIT_DIR systemd systemdsystemunitdir)
if(NOT CHANTEST_SYSTEMD_UNIT_DIR)
  set(CHANTEST_SYSTEMD_UNIT_DIR /lib/systemd/system)
endif()
install(CODE "
  if(CMAKE_INSTALL_PREFIX STREQUAL \"/usr\")
    set(chantest_unit_dir \"${CHANTEST_SYSTEMD_UNIT_DIR}\")
  else()
    set(chantest_unit_dir \"\${CMAKE_INSTALL_PREFIX}/lib/systemd/system\")
  endif()
  file(INSTALL DESTINATION \"\${chantest_unit_dir}\" TYPE FILE FILES \"${CMAKE_SOURCE_DIR}/data/chantest.service\")
")
if(TARGET modem-sim)
  install(PROGRAMS $<TARGET_FILE:modem-sim> DESTINATION ${CMAKE_INSTALL_BINDIR} RENAME chantest-modem-sim)
endif()
install(PROGRAMS ${CMAKE_SOURCE_DIR}/data/chantest-desktop-start DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/chantest)
install(FILES ${CMAKE_BINARY_DIR}/install-gen/chantest.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/data/icons/chantest.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${CMAKE_SOURCE_DIR}/data/icons/chantest-48.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/48x48/apps RENAME chantest.png)
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME chantest)
set(CPACK_PACKAGE_VENDOR "chantest")
set(CPACK_PACKAGE_CONTACT "chantest maintainers <chantest@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Tests the channels of telephone exchanges through a Hayes modem")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Tests the channels of telephone exchanges through a Hayes modem\n Dials every channel of a test task through a Hayes AT modem on a serial port\n or a TCP modem server, records each answer and its delay in a month results\n file, and shows a month as a grid of channels against days with a printable\n spreadsheet export. chantest-report prints the results for a morning list,\n a spreadsheet (csv), json, an html page or a monitoring check.\n chantest-service runs the tasks of /var/lib/chantest unattended, as the\n systemd service chantest (installed, not enabled).")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
# The platform plugins are loaded at run time, so no library dependency names them.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, adduser")
# The station's system user and its working folder.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/data/debian/postinst ${CMAKE_SOURCE_DIR}/data/debian/prerm
    ${CMAKE_SOURCE_DIR}/data/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
