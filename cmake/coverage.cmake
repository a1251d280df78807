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
# per program file; below 100% of lines it fails. Counters of an earlier run
# are cleared first, so the figures are this run's.
find_program(GCOVR_PROGRAM gcovr)
if(GCOVR_PROGRAM AND NOT CMAKE_CROSSCOMPILING)
  add_custom_target(coverage
    COMMAND find ${CMAKE_BINARY_DIR} -name "*.gcda" -delete
    COMMAND ${CMAKE_CTEST_COMMAND} --test-dir ${CMAKE_BINARY_DIR} -j2 --output-on-failure
    COMMAND ${GCOVR_PROGRAM} --root . --object-directory ${CMAKE_BINARY_DIR} ${CMAKE_BINARY_DIR}
            --filter inspector/ --filter waveformat/ --filter runtime/ --filter platform/ --exclude ".*/tests/"
            --fail-under-line 100 --print-summary
    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
    USES_TERMINAL VERBATIM)
endif()
