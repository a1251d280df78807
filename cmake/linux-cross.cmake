# Cross-builds the Linux program for another machine with Debian's cross
# compilers; the unit tests run under qemu-user. The machine is chosen by the
# small toolchain file that includes this one:
#   cmake -S . -B build-arm64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
#   cmake -S . -B build-s390x -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/s390x-linux-gnu.cmake
# (packages g++-aarch64-linux-gnu, g++-s390x-linux-gnu, qemu-user).
set(CMAKE_SYSTEM_NAME Linux)

set(cross_prefix ${CMAKE_SYSTEM_PROCESSOR}-linux-gnu)
set(CMAKE_C_COMPILER ${cross_prefix}-gcc)
set(CMAKE_CXX_COMPILER ${cross_prefix}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${cross_prefix})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every executable is static, so that the emulator needs none of the
# machine's shared libraries: the program by its own rule (static-pie where
# the C library has it; -static beside it would make a file that cannot
# start), the tests by tests/CMakeLists.txt.

find_program(qemu_program NAMES qemu-${CMAKE_SYSTEM_PROCESSOR} qemu-${CMAKE_SYSTEM_PROCESSOR}-static REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${qemu_program})
