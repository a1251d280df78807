# Cross-builds the Windows executable with Debian's mingw-w64 compilers:
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
# The tests run under Wine, so ctest in that build works on Linux too.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(mingw_prefix x86_64-w64-mingw32)
# The posix-threads variant: GoogleTest needs std::mutex and friends, which the
# win32-threads runtime of this compiler generation lacks.
set(CMAKE_C_COMPILER ${mingw_prefix}-gcc-posix)
set(CMAKE_CXX_COMPILER ${mingw_prefix}-g++-posix)
set(CMAKE_RC_COMPILER ${mingw_prefix}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${mingw_prefix})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(wine_program NAMES wine wine64 REQUIRED)
# Each build folder has a Wine prefix of its own (build-folder/wine-prefix,
# about 700 MB, made by the first Wine start), so two builds never share one
# or fight over it, and removing the folder removes it.
set(wine_environment env WINEPREFIX=${CMAKE_BINARY_DIR}/wine-prefix WINEDEBUG=-all)
# With address-space randomisation, Wine's start-up now and then finds the
# fixed address of its shared user data taken ("failed to map the shared user
# data") and the run ends with exit code 1 before the program starts. Runs
# without randomisation always find it free.
execute_process(COMMAND setarch ${CMAKE_HOST_SYSTEM_PROCESSOR} -R true RESULT_VARIABLE setarch_result
  OUTPUT_QUIET ERROR_QUIET)
if(setarch_result EQUAL 0)
  list(PREPEND wine_environment setarch ${CMAKE_HOST_SYSTEM_PROCESSOR} -R)
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR ${wine_environment} ${wine_program})
