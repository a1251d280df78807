# The coverage build (-DSONDREL_COVERAGE=ON): a Debug build whose every object
# counts the lines it runs, for gcovr. The program learns of it through
# SONDREL_COVERAGE, so that its sandbox lets the counters be written at exit,
# and the Windows program writes them before ExitProcess, which would skip
# the C library's exit handlers that write them.
option(SONDREL_COVERAGE "Count the lines every test runs (Debug, --coverage), for gcovr" OFF)
if(NOT SONDREL_COVERAGE)
  return()
endif()
if(SONDREL_SANITIZE OR SONDREL_FUZZ)
  message(FATAL_ERROR "SONDREL_COVERAGE cannot be combined with the sanitizer or fuzz builds")
endif()
set(CMAKE_BUILD_TYPE Debug CACHE STRING "Build type" FORCE)
add_compile_options(--coverage)
add_link_options(--coverage)
add_compile_definitions(SONDREL_COVERAGE=1)

# `cmake --build DIR --target coverage`: the whole suite, then gcovr's lines
# per program file with the numbers of the lines no test ran. Counters of an
# earlier run are cleared first, so the figures are this run's. On Linux it
# fails below 100% of lines; a build for another system (Windows under Wine)
# only prints its figures, read with that compiler's gcov. The Wine prefix in
# the build folder is passed over: its drive Z: is the whole file system.
find_program(GCOVR_PROGRAM gcovr)
if(CMAKE_CROSSCOMPILING)
  string(REGEX REPLACE "g\\+\\+([^/]*)$" "gcov\\1" gcov_program "${CMAKE_CXX_COMPILER}")
  set(coverage_gate)
else()
  set(gcov_program gcov)
  set(coverage_gate --fail-under-line 100)
endif()
add_custom_target(coverage
  COMMAND find ${CMAKE_BINARY_DIR} -name "*.gcda" -delete
  COMMAND ${CMAKE_CTEST_COMMAND} --test-dir ${CMAKE_BINARY_DIR} -j2 --output-on-failure
  COMMAND ${GCOVR_PROGRAM} --root . --gcov-executable ${gcov_program} --object-directory ${CMAKE_BINARY_DIR}
          ${CMAKE_BINARY_DIR} --filter inspector/ --filter waveformat/ --filter runtime/ --filter platform/
          --exclude ".*/tests/" --exclude-directories ".*/wine-prefix" ${coverage_gate} --print-summary
  WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
  USES_TERMINAL VERBATIM)
