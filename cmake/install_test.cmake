# The installation as a user meets it: the build installed under a scratch
# DESTDIR (prefix /p), each installed program answering --help and --version
# (the project's version) with status 0, its man page installed, and
# kestranov-grid writing a GeoTIFF, which needs its GDAL module from the
# installed folder (nothing is beside it in bin/); then uninstalling leaves
# no file. Run by ctest:
#   cmake -DBUILD=build -DPROGRAMS=a,b -DVERSION=1.0 -DBINDIR=bin -DMANDIR=share/man -DPOINTS=points.xyz
#         -P install_test.cmake

cmake_minimum_required(VERSION 3.20)

set(scratch "${BUILD}/install-test")
set(root "${scratch}/root")
file(REMOVE_RECURSE "${scratch}")
file(MAKE_DIRECTORY "${scratch}")
string(REPLACE "," ";" programs "${PROGRAMS}")
set(module_folder "")
set(failures "")
function(fail what)
  set(failures "${failures}\n  ${what}" PARENT_SCOPE)
endfunction()

# The build folder's own manifest is what `make uninstall` reads: kept as it was.
set(manifest "${BUILD}/install_manifest.txt")
set(kept "${scratch}/kept_manifest.txt")
if(EXISTS "${manifest}")
  file(RENAME "${manifest}" "${kept}")
endif()
set(ENV{DESTDIR} "${root}")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD}" --prefix /p RESULT_VARIABLE status OUTPUT_VARIABLE log
                ERROR_VARIABLE log)
if(EXISTS "${manifest}")
  file(RENAME "${manifest}" "${scratch}/manifest.txt")
endif()
if(EXISTS "${kept}")
  file(RENAME "${kept}" "${manifest}")
endif()
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (status ${status}):\n${log}")
endif()
file(STRINGS "${scratch}/manifest.txt" installed)

# A program and its page each; kestranov-grid's module besides.
set(expected "")
foreach(program IN LISTS programs)
  set(page "/p/${MANDIR}/man1/${program}.1")
  list(APPEND expected "/p/${BINDIR}/${program}" "${page}")
  foreach(option --help --version)
    execute_process(COMMAND "${root}/p/${BINDIR}/${program}" ${option} INPUT_FILE /dev/null RESULT_VARIABLE status
                    OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT status EQUAL 0 OR NOT err STREQUAL "")
      fail("${program} ${option}: status ${status}, stderr '${err}'")
    elseif(option STREQUAL "--help" AND NOT out MATCHES "^usage: ${program}[ \n]")
      fail("${program} --help printed '${out}'")
    elseif(option STREQUAL "--version" AND NOT out STREQUAL "${program} ${VERSION}\n")
      fail("${program} --version printed '${out}'")
    endif()
  endforeach()
  if(NOT EXISTS "${root}${page}")
    fail("no man page ${page}")
  else()
    file(READ "${root}${page}" text)
    if(NOT text MATCHES "^[.]TH .*\n[.]SH SYNOPSIS\n.* ${VERSION}\n")
      fail("${page} is no man page of version ${VERSION}")
    endif()
  endif()
endforeach()
if("kestranov-grid" IN_LIST programs)
  list(FILTER installed INCLUDE REGEX "/p/lib.*/kestranov/kestranov-grid-gdal[.]so$")
  list(LENGTH installed modules)
  if(NOT modules EQUAL 1)
    fail("no kestranov-grid-gdal.so installed in a lib/.../kestranov folder")
  endif()
  list(APPEND expected ${installed})
  get_filename_component(module_folder "${installed}" DIRECTORY)
  execute_process(COMMAND "${root}/p/${BINDIR}/kestranov-grid" "${POINTS}" --cell 1 -q -o "${scratch}/g.tif"
                  RESULT_VARIABLE status ERROR_VARIABLE err)
  set(magic "")
  if(EXISTS "${scratch}/g.tif")
    file(READ "${scratch}/g.tif" magic LIMIT 4 HEX)
  endif()
  if(NOT status EQUAL 0 OR NOT magic MATCHES "^4949(2a|2b)00$")
    fail("the installed kestranov-grid wrote no GeoTIFF (status ${status}, '${magic}'): ${err}")
  endif()
endif()
file(STRINGS "${scratch}/manifest.txt" installed)
list(SORT installed)
list(SORT expected)
if(NOT installed STREQUAL expected)
  fail("installed '${installed}', expected '${expected}'")
endif()

get_filename_component(own_folder "${module_folder}" NAME)
execute_process(COMMAND ${CMAKE_COMMAND} -DMANIFEST=${scratch}/manifest.txt -DOWN_FOLDER=${own_folder}
                        -P "${CMAKE_CURRENT_LIST_DIR}/uninstall.cmake" RESULT_VARIABLE status OUTPUT_QUIET)
# No file; and the module's own folder goes too.
file(GLOB_RECURSE left "${root}/*")
if(module_folder AND IS_DIRECTORY "${root}${module_folder}")
  list(APPEND left "${module_folder}/")
endif()
if(NOT status EQUAL 0 OR NOT left STREQUAL "")
  fail("uninstalling left '${left}' (status ${status})")
endif()

if(NOT failures STREQUAL "")
  message(FATAL_ERROR "the installation:${failures}")
endif()
file(REMOVE_RECURSE "${scratch}")
