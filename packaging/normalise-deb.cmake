# Run by cpack on each package it made, before copying it out. The .deb is an
# ar archive whose three members (debian-binary, control.tar.gz, data.tar.gz)
# cpack writes to files first and then archives with those files' modes,
# which follow the umask of the build. Each member's mode becomes rw-r--r--,
# as dpkg-deb writes it; the ar header is plain text, so the mode field is
# overwritten where it stands.
set(wanted_mode "100644  ")
file(WRITE "${CPACK_TOPLEVEL_DIRECTORY}/ar-mode" "${wanted_mode}")
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT package MATCHES "\\.deb$")
    continue()
  endif()
  file(READ "${package}" magic LIMIT 8)
  if(NOT magic STREQUAL "!<arch>\n")
    message(FATAL_ERROR "${package} is not an ar archive")
  endif()
  file(SIZE "${package}" package_size)
  # Each member: a 60-byte header (name 16, time 12, owner 6, group 6,
  # mode 8, size 10, end 2), then the data, padded to an even length.
  set(header 8)
  while(header LESS package_size)
    math(EXPR mode_at "${header} + 40")
    math(EXPR size_at "${header} + 48")
    file(READ "${package}" mode OFFSET ${mode_at} LIMIT 8)
    file(READ "${package}" member_size OFFSET ${size_at} LIMIT 10)
    string(STRIP "${member_size}" member_size)
    if(NOT member_size MATCHES "^[0-9]+$")
      message(FATAL_ERROR "${package}: no member size at offset ${size_at}")
    endif()
    if(NOT mode STREQUAL wanted_mode)
      execute_process(COMMAND dd "of=${package}" bs=1 seek=${mode_at} conv=notrunc status=none
                      INPUT_FILE "${CPACK_TOPLEVEL_DIRECTORY}/ar-mode" RESULT_VARIABLE dd_result)
      if(dd_result)
        message(FATAL_ERROR "cannot set the mode of a member of ${package}")
      endif()
    endif()
    math(EXPR header "${header} + 60 + ${member_size} + ${member_size} % 2")
  endwhile()
endforeach()
