# Removes every file the last installation from this build folder wrote, as
# listed in its install_manifest.txt, under the same DESTDIR:
#   DESTDIR=... cmake -DMANIFEST=build/install_manifest.txt -DOWN_FOLDER=kestranov -P uninstall.cmake
# A file already gone is told and passed over, so that uninstalling twice is
# no failure. The folders stay (bin/ and share/man/ are not ours), but for
# those named OWN_FOLDER (lib/kestranov/, the GDAL module's) once empty.

cmake_minimum_required(VERSION 3.20)

if(NOT EXISTS "${MANIFEST}")
  message(FATAL_ERROR "uninstall: ${MANIFEST} does not exist: nothing was installed from this build folder")
endif()
file(STRINGS "${MANIFEST}" installed)
foreach(file IN LISTS installed)
  set(path "$ENV{DESTDIR}${file}")
  if(IS_SYMLINK "${path}" OR EXISTS "${path}")
    message(STATUS "Removing: ${path}")
    file(REMOVE "${path}")
    if(EXISTS "${path}")
      message(FATAL_ERROR "uninstall: cannot remove ${path}")
    endif()
  else()
    message(STATUS "Not there: ${path}")
  endif()
  get_filename_component(folder "${path}" DIRECTORY)
  get_filename_component(folder_name "${folder}" NAME)
  if(folder_name STREQUAL "${OWN_FOLDER}")
    # rmdir leaves a folder that still holds anything.
    execute_process(COMMAND rmdir "${folder}" OUTPUT_QUIET ERROR_QUIET)
  endif()
endforeach()
