# The packages: a .deb from the Linux build, a .zip from the Windows build,
# each made by CPack from what cmake/install.cmake installs. Decides the
# packages' names, descriptions and fields, and that two builds of the same
# sources give the same bytes (packaging/ holds the scripts that see to it).
set(CPACK_PACKAGE_NAME sondrel)
set(CPACK_PACKAGE_VENDOR "the sondrel developers")
set(CPACK_PACKAGE_CONTACT "the sondrel developers <sondrel@sondrel.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "tell exactly what is inside a RIFF/WAVE sound file")
# The summary above is the first line; this is the extended description.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "sondrel reads one RIFF/WAVE file strictly forward and reports what it
finds: the file and RIFF sizes, every chunk with its offset and size, the
format descriptor of the fmt chunk in one line or field by field, and
where the sample data lies. Damaged and unusual files are described, not
refused; the exit status tells usable files from the rest, so scripts can
check many files at once.
.
sondrel-scan checks many files in one run, each file's report exactly
sondrel's, as blocks of text or as JSON records.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_README ${CMAKE_SOURCE_DIR}/README.md)
# The packaged program without symbols and debug sections (the Windows
# runtime libraries bring DWARF sections of their own).
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION sound)
  # The executable is static: it depends on no shared library.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
endif()
# The same bytes from every build of the same sources: one time for every
# time stamp, and the staged files' modes and times made the same.
configure_file(${CMAKE_SOURCE_DIR}/packaging/cpack-project.cmake.in ${CMAKE_BINARY_DIR}/cpack-project.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/cpack-project.cmake)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/packaging/normalise-staging.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/packaging/normalise-deb.cmake)
include(CPack)
