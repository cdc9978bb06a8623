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
set(KQ_PLATFORM_LIBRARIES shell32 synchronization psapi)

# nlohmann-json is header-only and the same for every target, but the build
# machine's /usr/include must not come into a cross build whole: a directory
# of our own holds a link to its one subdirectory.
find_path(KQ_JSON_HEADERS nlohmann/json.hpp PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/json-include)
file(CREATE_LINK ${KQ_JSON_HEADERS}/nlohmann ${CMAKE_BINARY_DIR}/json-include/nlohmann SYMBOLIC)
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES ${CMAKE_BINARY_DIR}/json-include)

# The library the test programs link on Windows, into `BIN`.
function(kq_windows_test_library BIN)
  # A DLL cannot leave symbols to the program that loads it. Here the test
  # programs and the test modules share one kqBridge_vs.dll of their own,
  # made from the same objects with every symbol exported, internals
  # included, in the tests' own directory; modules built for the real
  # library bind to it too, as it is loaded under the same name.
  add_library(kqBridge_internal SHARED $<TARGET_OBJECTS:kqBridge_objects>)
  set_target_properties(kqBridge_internal PROPERTIES
    OUTPUT_NAME kqBridge_vs ARCHIVE_OUTPUT_NAME kqBridge_internal RUNTIME_OUTPUT_DIRECTORY ${BIN})
  target_link_options(kqBridge_internal PRIVATE -Wl,--export-all-symbols)
  target_include_directories(kqBridge_internal PUBLIC ${PROJECT_SOURCE_DIR}/include ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(kqBridge_internal PUBLIC Threads::Threads PRIVATE ${KQ_LINK_DEPENDENCIES})
  kq_copy_windows_runtime(${BIN})
endfunction()
