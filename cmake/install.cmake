# What an install holds and where it goes. Decides the layout: on Linux
# Debian's (the program in bin, its manual page and the changelog gzipped
# the way Debian wants them, the DEP-5 copyright file); on Windows one
# folder with the program, the licence, the README and the manual as text
# with Windows line ends. A program of the project comes in with
# sondrel_install_program(NAME), its manual page being doc/NAME.1.in.
include(GNUInstallDirs)
include(${CMAKE_SOURCE_DIR}/packaging/source-date.cmake)

if(WIN32)
  find_program(MANDOC_PROGRAM mandoc)
  if(NOT MANDOC_PROGRAM)
    message(STATUS "mandoc not found: the .zip will have no text manual")
  endif()
endif()

function(sondrel_install_program name)
  configure_file(${CMAKE_SOURCE_DIR}/doc/${name}.1.in ${CMAKE_BINARY_DIR}/${name}.1 @ONLY)
  if(WIN32)
    install(TARGETS ${name} RUNTIME DESTINATION .)
    # The manual page rendered as plain text (mandoc, on the building machine);
    # no troff page, which nothing on Windows reads.
    if(MANDOC_PROGRAM)
      add_custom_command(OUTPUT ${name}.txt
        COMMAND ${CMAKE_COMMAND} -DMANDOC=${MANDOC_PROGRAM} -DPAGE=${name}.1 -DOUTPUT=${name}.txt
                -P ${CMAKE_SOURCE_DIR}/packaging/text-manual.cmake
        DEPENDS ${CMAKE_BINARY_DIR}/${name}.1 ${CMAKE_SOURCE_DIR}/packaging/text-manual.cmake VERBATIM)
      add_custom_target(${name}_text_manual ALL DEPENDS ${name}.txt)
      install(FILES ${CMAKE_BINARY_DIR}/${name}.txt DESTINATION .)
    endif()
  else()
    install(TARGETS ${name} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    # The manual page compressed the way Debian wants it (gzip -9, no name or
    # time stamp).
    add_custom_command(OUTPUT ${name}.1.gz
      COMMAND gzip -9nc ${name}.1 >${name}.1.gz
      DEPENDS ${CMAKE_BINARY_DIR}/${name}.1)
    add_custom_target(${name}_compressed_manual ALL DEPENDS ${name}.1.gz)
    install(FILES ${CMAKE_BINARY_DIR}/${name}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    # Sections a program does not need at run time (the compiler's notes),
    # gone before the package is made.
    install(CODE "execute_process(COMMAND ${CMAKE_OBJCOPY} --remove-section=.comment --remove-section=.note
                  \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${name}\")")
  endif()
endfunction()

# What the programs share.
if(WIN32)
  configure_file(${CMAKE_SOURCE_DIR}/LICENSE ${CMAKE_BINARY_DIR}/LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
  configure_file(${CMAKE_SOURCE_DIR}/README.md ${CMAKE_BINARY_DIR}/README.txt @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${CMAKE_BINARY_DIR}/LICENSE.txt ${CMAKE_BINARY_DIR}/README.txt DESTINATION .)
else()
  # The changelog compressed as the manual page is; the DEP-5 copyright file
  # with the licences of everything the static executable holds.
  configure_file(${CMAKE_SOURCE_DIR}/doc/changelog.in ${CMAKE_BINARY_DIR}/changelog @ONLY)
  add_custom_command(OUTPUT changelog.gz
    COMMAND gzip -9nc changelog >changelog.gz
    DEPENDS ${CMAKE_BINARY_DIR}/changelog)
  add_custom_target(compressed_changelog ALL DEPENDS changelog.gz)
  set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/sondrel)
  install(FILES ${CMAKE_BINARY_DIR}/changelog.gz DESTINATION ${doc_dir})
  install(FILES ${CMAKE_SOURCE_DIR}/doc/copyright DESTINATION ${doc_dir})
  # The static link is deliberate: the package tells lintian why. Only the
  # package gets the note (see packaging/normalise-staging.cmake).
  set(CPACK_SONDREL_LINTIAN_OVERRIDES ${CMAKE_SOURCE_DIR}/doc/lintian-overrides)
endif()
