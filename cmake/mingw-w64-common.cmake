# What the MinGW-w64 toolchain files share; each sets CMAKE_SYSTEM_PROCESSOR
# and KQ_WINDOWS_TRIPLET first. The POSIX thread model is used, so std::thread
# and the POSIX threads API come from winpthreads. Programs run under Wine; the
# target's own libraries are looked up under build/windows-deps/<triplet>
# (scripts/install-deps.sh --windows).
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${KQ_WINDOWS_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KQ_WINDOWS_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${KQ_WINDOWS_TRIPLET}-windres)

get_filename_component(KQ_WINDOWS_DEPS "${CMAKE_CURRENT_LIST_DIR}/../build/windows-deps/${KQ_WINDOWS_TRIPLET}" ABSOLUTE)
set(CMAKE_FIND_ROOT_PATH /usr/${KQ_WINDOWS_TRIPLET} ${KQ_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR wine)

# pkg-config answers for the target's libraries only.
set(ENV{PKG_CONFIG_LIBDIR} "${KQ_WINDOWS_DEPS}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
