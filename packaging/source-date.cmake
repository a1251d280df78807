# The one time every date of a release is made from: the manual page, the
# changelog and the time stamps inside the .deb and the .zip. Two builds of
# the same sources then give the same bytes, whenever and wherever they run
# (https://reproducible-builds.org/docs/source-date-epoch/).
#
# The caller's SOURCE_DATE_EPOCH wins. Without it, the time of the last
# commit; outside a git checkout (a source archive), the modification time of
# doc/changelog.in, which an archive keeps.
#
# Sets sondrel_source_date_epoch (seconds), sondrel_source_date_from (where it
# came from), sondrel_man_date (2026-12-07) and sondrel_changelog_date
# (Mon, 07 Dec 2026 10:58:12 +0000).

if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(sondrel_source_date_epoch "$ENV{SOURCE_DATE_EPOCH}")
  set(sondrel_source_date_from "SOURCE_DATE_EPOCH")
else()
  find_package(Git QUIET)
  if(GIT_FOUND)
    execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct
      WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
      OUTPUT_VARIABLE sondrel_source_date_epoch OUTPUT_STRIP_TRAILING_WHITESPACE
      RESULT_VARIABLE git_result ERROR_QUIET)
    execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --absolute-git-dir
      WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
      OUTPUT_VARIABLE git_dir OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    # A new commit moves the date: configure again when HEAD moves.
    if(git_result EQUAL 0 AND EXISTS "${git_dir}/logs/HEAD")
      set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${git_dir}/logs/HEAD")
    endif()
    set(sondrel_source_date_from "the last commit")
  endif()
  if(NOT sondrel_source_date_epoch MATCHES "^[0-9]+$")
    file(TIMESTAMP ${CMAKE_SOURCE_DIR}/doc/changelog.in sondrel_source_date_epoch "%s" UTC)
    set(sondrel_source_date_from "doc/changelog.in")
  endif()
endif()
if(NOT sondrel_source_date_epoch MATCHES "^[0-9]+$")
  message(FATAL_ERROR "SOURCE_DATE_EPOCH is '${sondrel_source_date_epoch}', not a number of seconds")
endif()
message(STATUS "Release time: ${sondrel_source_date_epoch} (from ${sondrel_source_date_from})")

# string(TIMESTAMP) reads that time from the environment. The names of days
# and months are spelled here so that no locale can change them.
set(saved_epoch "$ENV{SOURCE_DATE_EPOCH}")
set(ENV{SOURCE_DATE_EPOCH} ${sondrel_source_date_epoch})
string(TIMESTAMP sondrel_man_date "%Y-%m-%d" UTC)
string(TIMESTAMP weekday "%w" UTC)
string(TIMESTAMP month "%m" UTC)
string(TIMESTAMP rest "%d @ %Y %H:%M:%S +0000" UTC)
set(ENV{SOURCE_DATE_EPOCH} "${saved_epoch}")
if(saved_epoch STREQUAL "")
  unset(ENV{SOURCE_DATE_EPOCH})
endif()
set(weekday_names Sun Mon Tue Wed Thu Fri Sat)
set(month_names - Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(GET weekday_names ${weekday} weekday_name)
string(REGEX REPLACE "^0" "" month "${month}")
list(GET month_names ${month} month_name)
string(REPLACE "@" "${month_name}" rest "${rest}")
set(sondrel_changelog_date "${weekday_name}, ${rest}")
