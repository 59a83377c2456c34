# Removes the files that the last `cmake --install` of a build tree listed in
# its install_manifest.txt.  A drive configuration file that differs from the
# shipped one has been edited by its administrator and stays.  The manifest
# holds the paths without DESTDIR: give the same DESTDIR as to the install.
#
#   DESTDIR=... cmake -DMANIFEST=<build>/install_manifest.txt \
#         -DSHIPPED_CONFIG=<source>/config/vorkarc -P cmake/uninstall.cmake

if(NOT EXISTS "${MANIFEST}")
  message(FATAL_ERROR "Nothing to uninstall: ${MANIFEST} does not exist "
                      "(it is written by `make install`).")
endif()

file(STRINGS "${MANIFEST}" installed_files)
foreach(listed IN LISTS installed_files)
  set(path "$ENV{DESTDIR}${listed}")
  if(NOT EXISTS "${path}" AND NOT IS_SYMLINK "${path}")
    continue()
  endif()
  get_filename_component(name "${path}" NAME)
  if(name STREQUAL "vorkarc")
    file(SHA256 "${path}" installed_sum)
    file(SHA256 "${SHIPPED_CONFIG}" shipped_sum)
    if(NOT installed_sum STREQUAL shipped_sum)
      message(STATUS "Keeping the edited ${path}")
      continue()
    endif()
  endif()
  message(STATUS "Removing ${path}")
  file(REMOVE "${path}")
endforeach()
