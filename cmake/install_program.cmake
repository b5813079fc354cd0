# kestranov_install_program(TARGET SUMMARY): TARGET installs into bin/ with a
# man page of section 1, made at build time from the program's own --help
# and --version (cmake/man_page.cmake), so that the page and the program
# cannot disagree. SUMMARY is the page's one-line description.

# Every page, built by `make`; its KESTRANOV_PROGRAMS property lists the
# installed programs (the pages' SEE ALSO, the installation test).
add_custom_target(kestranov_man_pages ALL)

function(kestranov_install_program target summary)
  install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  set(page ${CMAKE_BINARY_DIR}/man/${target}.1)
  add_custom_command(
    OUTPUT ${page}
    COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:${target}> -DNAME=${target} -DSUMMARY=${summary}
            -DSEE_ALSO=$<JOIN:$<TARGET_PROPERTY:kestranov_man_pages,KESTRANOV_PROGRAMS>,$<COMMA>> -DPAGE=${page}
            -P ${CMAKE_SOURCE_DIR}/cmake/man_page.cmake
    DEPENDS ${target} ${CMAKE_SOURCE_DIR}/cmake/man_page.cmake
    COMMENT "Writing the man page of ${target}"
    VERBATIM)
  # A custom command's output is built by a target of its own folder.
  add_custom_target(${target}_man_page DEPENDS ${page})
  add_dependencies(kestranov_man_pages ${target}_man_page)
  set_property(TARGET kestranov_man_pages APPEND PROPERTY KESTRANOV_PROGRAMS ${target})
  install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()
