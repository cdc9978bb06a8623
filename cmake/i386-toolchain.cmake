# A 32-bit x86 build on a 64-bit Debian host, with the multiarch :i386
# packages (scripts/install-deps.sh --i386). The programs run natively, or,
# where the kernel cannot run i386 programs, through the emulator that
# scripts/i386-configure.sh passes as KQ_I386_EMULATOR (qemu-i386): the
# build is then a cross build, and CMake starts every test program through
# it.
# 64-bit file offsets: a directory on a 64-bit kernel's file system may
# hand out offsets that do not fit 32 bits (under an emulator, readdir()
# would then fail with EOVERFLOW), and files may outgrow 2 GiB.
set(CMAKE_C_FLAGS_INIT "-m32 -D_FILE_OFFSET_BITS=64")
set(CMAKE_CXX_FLAGS_INIT "-m32 -D_FILE_OFFSET_BITS=64")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(CMAKE_PREFIX_PATH /usr/lib/i386-linux-gnu/cmake)
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/i386-linux-gnu/pkgconfig:/usr/share/pkgconfig")
if(KQ_I386_EMULATOR)
  set(CMAKE_SYSTEM_NAME Linux)
  set(CMAKE_SYSTEM_PROCESSOR i686)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KQ_I386_EMULATOR})
endif()
