# `make package`: Debian packages of the three install components, built with
# CPack from a tree configured for /usr (so that libraries land in the
# multiarch directory):
#   libkqbridge-vs<SOVERSION>  the shared library, named after its SOVERSION
#   libkqbridge-vs-dev         headers, CMake package, kqbridge.pc, module kit
#   kqbridge-tools             kqbridge-host, kqbridge-ctl and kqbridge-pipe
# The runtime dependencies (libavutil57, libstdc++6, ...) come from
# dpkg-shlibdeps; the other two depend on the library of the same version.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kqbridge)
set(CPACK_PACKAGE_VENDOR "kqBridge developers")
set(CPACK_PACKAGE_CONTACT "kqBridge developers <kqbridge@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "plug-in component framework")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL runtime dev tools)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Our own library, which the tools link, is found in the runtime package's
# staging tree; its dependency comes from the component dependency below.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
  ${CMAKE_BINARY_DIR}/_CPack_Packages/Linux/DEB/${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-Linux/runtime/usr/${CMAKE_INSTALL_LIBDIR})
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

set(CPACK_COMPONENT_RUNTIME_DISPLAY_NAME "kqBridge shared library")
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
  "kqBridge plug-in component framework: the shared library\n"
  "The central object, the module loader and the services that modules use.")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libkqbridge-vs${KQ_ABI_VERSION})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# A shlibs file for packages built against us (with it CPack runs ldconfig
# after installation and removal).
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")

set(CPACK_COMPONENT_DEV_DISPLAY_NAME "kqBridge development files")
set(CPACK_COMPONENT_DEV_DESCRIPTION
  "kqBridge plug-in component framework: development files\n"
  "Headers, the CMake package with kqbridge_add_module() and kqbridge.pc,\n"
  "for hosts and plug-in modules.")
set(CPACK_COMPONENT_DEV_DEPENDS runtime)
set(CPACK_DEBIAN_DEV_PACKAGE_NAME libkqbridge-vs-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)

set(CPACK_COMPONENT_TOOLS_DISPLAY_NAME "kqBridge tools")
set(CPACK_COMPONENT_TOOLS_DESCRIPTION
  "kqBridge plug-in component framework: tools\n"
  "kqbridge-host runs plug-in modules; kqbridge-ctl looks inside running\n"
  "hosts; kqbridge-pipe sends and receives messages over kqBridge named pipes.")
set(CPACK_COMPONENT_TOOLS_DEPENDS runtime)
set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME kqbridge-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)

include(CPack)
