# Installation (GNUInstallDirs) and the Debian package (CPack, scripts/package.sh).
#
# Layout under the prefix (/usr for the package):
#   lib/orvakell/          the programs, the zip engine's shared object (found beside them through
#                          their $ORIGIN run path) and the shipped settings database
#   bin/                   orvakell, orvakell-service, orvakell-schedule, orvakell-setup: links to
#                          lib/orvakell/orvakell-env, which picks the account's folders
#   /lib/systemd/system/   orvakell.service (the system service, account "orvakell")
#   /lib/systemd/user/     orvakell.service (the service of a desktop user)
#                          (below the prefix when it is not /usr)
#   share/applications/    orvakell.desktop
#   share/doc/orvakell/    README.md, copyright, changelog.Debian.gz
include(GNUInstallDirs)
# Not the multiarch library folder: that is for shared libraries of other programs.
set(ORV_PKG_DIR lib/orvakell)

set(orv_programs orvakell-service orvakell-schedule orvakell-setup orvakell-burn orvakell-sql orvakell-zip orvakell-server)
if(TARGET orvakell)
  list(PREPEND orv_programs orvakell)
endif()
install(TARGETS ${orv_programs} RUNTIME DESTINATION ${ORV_PKG_DIR})
install(TARGETS ZipEngine179 LIBRARY DESTINATION ${ORV_PKG_DIR})
install(FILES ${ORV_BIN_DIR}/Velmora.db DESTINATION ${ORV_PKG_DIR} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
install(PROGRAMS ${CMAKE_SOURCE_DIR}/packaging/orvakell-env.sh DESTINATION ${ORV_PKG_DIR} RENAME orvakell-env)
foreach(link orvakell orvakell-service orvakell-schedule orvakell-setup)
  install(CODE "
    file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    file(CREATE_LINK ../${ORV_PKG_DIR}/orvakell-env \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${link}\" SYMBOLIC)")
endforeach()
# Debian 12 keeps packaged units in /lib/systemd; other prefixes keep them below the prefix.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(ORV_UNIT_DIR /lib/systemd)
else()
  set(ORV_UNIT_DIR lib/systemd)
endif()
install(FILES ${CMAKE_SOURCE_DIR}/packaging/systemd/orvakell.service DESTINATION ${ORV_UNIT_DIR}/system)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/systemd/orvakell-user.service DESTINATION ${ORV_UNIT_DIR}/user
        RENAME orvakell.service)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/orvakell.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)

# Debian's documentation: the copyright file and a compressed changelog (made at build time).
set(orv_changelog ${CMAKE_BINARY_DIR}/packaging/changelog.Debian)
string(TIMESTAMP orv_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE ${orv_changelog}
  "orvakell (${PROJECT_VERSION}) stable; urgency=medium\n\n"
  "  * Background service, schedule editing from the shell, Debian package.\n\n"
  " -- ORVAKELL developers <orvakell@example.invalid>  ${orv_date}\n")
find_program(ORV_GZIP gzip)
if(ORV_GZIP)
  add_custom_command(OUTPUT ${orv_changelog}.gz
    COMMAND ${ORV_GZIP} -9nkf ${orv_changelog}
    DEPENDS ${orv_changelog})
  add_custom_target(orv_changelog ALL DEPENDS ${orv_changelog}.gz)
  install(FILES ${orv_changelog}.gz DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME changelog.gz)
endif()
install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvakell)
set(CPACK_PACKAGE_VENDOR "ORVAKELL developers")
set(CPACK_PACKAGE_CONTACT "ORVAKELL developers <orvakell@example.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "backups of the local SQL Server, zipped and written to CD/DVD")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Backs up the databases of the SQL Server on the same machine on a weekly schedule,\n"
  " zips the backups and writes them to CD or DVD. A window for the desktop and a\n"
  " background service for servers without one share the schedule.")
set(CPACK_SET_DESTDIR ON)  # the units' absolute folder
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://example.invalid/orvakell")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${CMAKE_SOURCE_DIR}/packaging/postinst ${CMAKE_SOURCE_DIR}/packaging/prerm ${CMAKE_SOURCE_DIR}/packaging/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_STRIP_FILES ON)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR})
include(CPack)
