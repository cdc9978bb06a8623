# kqbridge_add_module(NAME [SOURCES] src...)
#
# Builds the plug-in module NAME.dll: a shared object the kqBridge loader
# accepts (it requires the ".dll" name on every platform), linked to the
# framework library and stamped with the ABI version of the headers it was
# built against, whatever its own files include. Works inside the kqBridge
# tree and with an installed package found by find_package(kqBridge).
function(kqbridge_add_module NAME)
  cmake_parse_arguments(KQ_MODULE "" "" "SOURCES" ${ARGN})
  set(sources ${KQ_MODULE_SOURCES} ${KQ_MODULE_UNPARSED_ARGUMENTS})
  if(NOT sources)
    message(FATAL_ERROR "kqbridge_add_module(${NAME}): no SOURCES given")
  endif()
  # The header that declares KQ_MODULE_EXPORT holds the stamp.
  set(stamp ${CMAKE_CURRENT_BINARY_DIR}/${NAME}_kqbridge_stamp.cpp)
  file(CONFIGURE OUTPUT ${stamp} CONTENT "#include <kqbridge/bridge.h>\n")
  add_library(${NAME} SHARED ${sources} ${stamp})
  target_link_libraries(${NAME} PRIVATE kqBridge::kqBridge_vs)
  set_target_properties(${NAME} PROPERTIES
    PREFIX ""
    SUFFIX ".dll"
    CXX_STANDARD 17
    CXX_STANDARD_REQUIRED ON)
endfunction()
