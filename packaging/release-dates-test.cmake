# The dates made from the release time, against those of `date -u` for the
# same seconds: the edges of the day and month tables, a leap day, the
# first second past 32-bit time, and months with and without a leading zero.
#   cmake -DSOURCE_DIR=<top of the tree> -P packaging/release-dates-test.cmake
set(CMAKE_SOURCE_DIR "${SOURCE_DIR}")
set(cases
  "0|1970-01-01|Thu, 01 Jan 1970 00:00:00 +0000"
  "951782400|2000-02-29|Tue, 29 Feb 2000 00:00:00 +0000"
  "1757980799|2025-09-15|Mon, 15 Sep 2025 23:59:59 +0000"
  "1790812800|2026-10-01|Thu, 01 Oct 2026 00:00:00 +0000"
  "1796457909|2026-12-05|Sat, 05 Dec 2026 08:05:09 +0000"
  "1796558400|2026-12-06|Sun, 06 Dec 2026 12:00:00 +0000"
  "1798761599|2026-12-31|Thu, 31 Dec 2026 23:59:59 +0000"
  "2147483648|2038-01-19|Tue, 19 Jan 2038 03:14:08 +0000"
  "4102444800|2100-01-01|Fri, 01 Jan 2100 00:00:00 +0000")
foreach(case IN LISTS cases)
  string(REPLACE "|" ";" fields "${case}")
  list(GET fields 0 epoch)
  list(GET fields 1 man)
  list(GET fields 2 changelog)
  set(ENV{SOURCE_DATE_EPOCH} ${epoch})
  include(${SOURCE_DIR}/packaging/source-date.cmake)
  if(NOT sondrel_man_date STREQUAL man OR NOT sondrel_changelog_date STREQUAL changelog)
    message(SEND_ERROR "${epoch}: '${sondrel_man_date}' and '${sondrel_changelog_date}', "
                       "expected '${man}' and '${changelog}'")
  endif()
endforeach()
# The caller's time is left as it was found.
if(NOT "$ENV{SOURCE_DATE_EPOCH}" STREQUAL "4102444800")
  message(SEND_ERROR "SOURCE_DATE_EPOCH changed to '$ENV{SOURCE_DATE_EPOCH}'")
endif()
