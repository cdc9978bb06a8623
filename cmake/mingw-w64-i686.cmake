# Cross build for i686 Windows with MinGW-w64.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KQ_WINDOWS_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
