# The Windows build's layout: programs and DLLs side by side in bin/, the
# test programs and the modules they load in tests/, each folder with the
# toolchain's runtime DLLs, so that everything runs under Wine (or on
# Windows) without a search path.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
# kqBridge_vs.dll, as hosts and modules import it.
set(CMAKE_SHARED_LIBRARY_PREFIX "")

# libstdc++, libgcc and winpthreads, as the compiler finds them.
set(KQ_WINDOWS_RUNTIME)
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libgcc_s_dw2-1.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
    OUTPUT_VARIABLE found OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(IS_ABSOLUTE "${found}" AND EXISTS "${found}")
    list(APPEND KQ_WINDOWS_RUNTIME "${found}")
  endif()
endforeach()

function(kq_copy_windows_runtime DIR)
  file(COPY ${KQ_WINDOWS_RUNTIME} DESTINATION ${DIR})
endfunction()
kq_copy_windows_runtime(${CMAKE_BINARY_DIR}/bin)

# The system libraries the platform layer calls into besides kernel32.
set(KQ_PLATFORM_LIBRARIES shell32 synchronization)
