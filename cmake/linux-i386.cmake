# The portable core and its unit tests as 32-bit x86 Linux programs (-m32,
# Debian's gcc-multilib), run under qemu-i386 user-mode emulation: the same
# sources as the DLL's core with 32-bit pointers, size_t and long, on a
# machine whose kernel may run no 32-bit program at all.
#
# The programs are linked statically, so qemu-i386 needs no 32-bit loader or
# shared libraries on the machine. time_t and file offsets are 64-bit, as in
# the mingw-w64 i686 build of the DLL. One difference stays: the i386 System
# V ABI aligns 8-byte members of a struct at 4 bytes, Windows at 8.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT "-m32 -D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64")
set(CMAKE_CXX_FLAGS_INIT "-m32 -D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32 -static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")

# Libraries of the 32-bit multilib (libc6-dev-i386, lib32stdc++); headers are
# the build machine's, which gcc-multilib makes serve both widths.
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(CMAKE_LIBRARY_PATH /usr/lib32 /usr/lib/i386-linux-gnu)
set_property(GLOBAL PROPERTY FIND_LIBRARY_USE_LIB32_PATHS TRUE)
set_property(GLOBAL PROPERTY FIND_LIBRARY_USE_LIB64_PATHS FALSE)

find_program(KESTRIN_QEMU_I386 qemu-i386 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${KESTRIN_QEMU_I386})
