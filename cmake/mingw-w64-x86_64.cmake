# Cross build for x86_64 Windows with MinGW-w64.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KQ_WINDOWS_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
