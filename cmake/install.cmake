# What `make install` puts where: the three programs (and vorka-tcmu on
# Linux), their manual pages and the system-wide drive configuration file.
# Also the `uninstall` target and the
# Debian package (cmake/package.cmake).

set(VORKA_SHIPPED_CONFIG ${PROJECT_SOURCE_DIR}/config/vorkarc)

install(TARGETS vorka vorkfade vorkasum RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# On Linux, the tool that makes a disc image a CD drive of the kernel; root's.
set(vorka_pages vorka.1 vorkfade.1 vorkasum.1 vorkarc.5)
if(TARGET vorka-tcmu)
  install(TARGETS vorka-tcmu RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/man/vorka-tcmu.8
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)
endif()

# The pages name the system configuration file; an installed page must name
# the file this build reads, which a package moves to /etc.
foreach(page ${vorka_pages})
  set(source ${PROJECT_SOURCE_DIR}/man/${page})
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
  file(READ ${source} text)
  string(REPLACE "/usr/local/etc/vorkarc" "${VORKA_SYSCONFDIR}/vorkarc"
         text "${text}")
  file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/man/${page} CONTENT "${text}" @ONLY)
  string(REGEX MATCH "[0-9]$" section ${page})
  install(FILES ${PROJECT_BINARY_DIR}/man/${page}
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endforeach()

# The system configuration file belongs to its administrator once it is there:
# a new install never replaces it.  An untouched copy is still listed in the
# install manifest so that `make uninstall` can take it away; an edited one is
# not (cmake/uninstall.cmake checks again before it removes anything).
install(CODE "
  set(shipped \"${VORKA_SHIPPED_CONFIG}\")
  set(target \"\$ENV{DESTDIR}${VORKA_SYSCONFDIR}/vorkarc\")
  if(NOT EXISTS \"\${target}\")
    file(INSTALL DESTINATION \"${VORKA_SYSCONFDIR}\" TYPE FILE FILES \"\${shipped}\")
  else()
    file(SHA256 \"\${target}\" installed_sum)
    file(SHA256 \"\${shipped}\" shipped_sum)
    if(installed_sum STREQUAL shipped_sum)
      message(STATUS \"Up-to-date: \${target}\")
      list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"${VORKA_SYSCONFDIR}/vorkarc\")
    else()
      message(STATUS \"Keeping the edited \${target}; the shipped file is \${shipped}\")
    endif()
  endif()
")

add_custom_target(uninstall
  COMMAND ${CMAKE_COMMAND}
          -DMANIFEST=${PROJECT_BINARY_DIR}/install_manifest.txt
          -DSHIPPED_CONFIG=${VORKA_SHIPPED_CONFIG}
          -P ${PROJECT_SOURCE_DIR}/cmake/uninstall.cmake
  COMMENT "Removing the files of the last install"
  VERBATIM)

include(${CMAKE_CURRENT_LIST_DIR}/package.cmake)
