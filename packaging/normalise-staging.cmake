# Run by cpack on the staged files, before it archives them. The files'
# modes and times are otherwise those the build happened to give them (the
# umask, the moment of the build); here they become the same on every build.
set(root "${CPACK_TEMPORARY_INSTALL_DIRECTORY}")

# The package's own addition: lintian's note that the static link is
# deliberate means nothing outside a package, so `cmake --install` leaves it out.
if(CPACK_SONDREL_LINTIAN_OVERRIDES)
  set(overrides "${root}${CPACK_PACKAGING_INSTALL_PREFIX}/share/lintian/overrides")
  file(MAKE_DIRECTORY "${overrides}")
  file(COPY_FILE "${CPACK_SONDREL_LINTIAN_OVERRIDES}" "${overrides}/sondrel")
endif()

# Directories and programs rwxr-xr-x, everything else rw-r--r--.
file(GLOB_RECURSE entries LIST_DIRECTORIES true "${root}/*")
foreach(entry IN LISTS entries)
  if(IS_DIRECTORY "${entry}")
    file(CHMOD "${entry}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
         GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  else()
    execute_process(COMMAND test -x "${entry}" RESULT_VARIABLE not_executable)
    if(not_executable)
      file(CHMOD "${entry}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    else()
      file(CHMOD "${entry}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
           GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    endif()
  endif()
endforeach()

# Every file and directory dated at the release time.
execute_process(COMMAND find "${root}" -exec touch -h -d "@$ENV{SOURCE_DATE_EPOCH}" {} +
                RESULT_VARIABLE touch_result)
if(touch_result)
  message(FATAL_ERROR "cannot set the time of the staged files")
endif()
