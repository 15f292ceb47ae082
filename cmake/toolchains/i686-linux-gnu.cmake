# Cross build for i686-linux-gnu with Debian's cross toolchain. The programs
# are linked statically, so an x86-64 Linux kernel (with its usual 32-bit
# support) runs them natively: no emulator and no 32-bit runtime libraries on
# the host. Configure with -DCALYX_I686_QEMU=ON to run them under qemu-i386
# instead (hosts without 32-bit support).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER i686-linux-gnu-g++)
set(CMAKE_ASM_COMPILER i686-linux-gnu-gcc)
# SSE2 is the floor for the 32-bit x86 delivery target.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_FIND_ROOT_PATH /usr/i686-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
if(CALYX_I686_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR qemu-i386;-L;/usr/i686-linux-gnu)
else()
  # The host runs the programs itself; `env` stands in for an emulator so that
  # the build-time weight generator and the tests run them directly.
  set(CMAKE_CROSSCOMPILING_EMULATOR env)
endif()
