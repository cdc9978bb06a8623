# kqbridge_add_module(NAME [SOURCES] src...)
#
# Builds the plug-in module NAME.dll: a shared object the kqBridge loader
# accepts (it requires the ".dll" name on every platform), linked to the
# framework library. Works inside the kqBridge tree and with an installed
# package found by find_package(kqBridge).
function(kqbridge_add_module NAME)
  cmake_parse_arguments(KQ_MODULE "" "" "SOURCES" ${ARGN})
  set(sources ${KQ_MODULE_SOURCES} ${KQ_MODULE_UNPARSED_ARGUMENTS})
  if(NOT sources)
    message(FATAL_ERROR "kqbridge_add_module(${NAME}): no SOURCES given")
  endif()
  add_library(${NAME} SHARED ${sources})
  target_link_libraries(${NAME} PRIVATE kqBridge::kqBridge_vs)
  set_target_properties(${NAME} PROPERTIES
    PREFIX ""
    SUFFIX ".dll"
    CXX_STANDARD 17
    CXX_STANDARD_REQUIRED ON)
endfunction()
