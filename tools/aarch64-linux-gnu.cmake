# Cross build for 64-bit ARM Linux with Debian's cross compiler and the arm64
# packages of the libraries (multiarch, in /usr/lib/aarch64-linux-gnu):
#
#   apt-get install g++-aarch64-linux-gnu qemu-user libgtest-dev:arm64 libgmock-dev:arm64 \
#                   libjpeg62-turbo-dev:arm64
#   cmake --preset aarch64 && cmake --build --preset aarch64 -j 4 && ctest --preset aarch64
#
# The tests run under qemu-user. The emulator hands the programs it runs the
# command that runs the build's programs (VANDREL_USER_EMULATOR), for the tests
# that run one of them again; the tests that start programs through the
# program starter, which cannot work under qemu-user, skip themselves when it is set.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# The arm64 libraries live beside the machine's own: look for them by their
# architecture's folder, never in the machine's.
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

find_program(VANDREL_QEMU_AARCH64 qemu-aarch64)
if(VANDREL_QEMU_AARCH64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VANDREL_QEMU_AARCH64} -L /usr/aarch64-linux-gnu -E
      "VANDREL_USER_EMULATOR=${VANDREL_QEMU_AARCH64} -L /usr/aarch64-linux-gnu")
endif()
