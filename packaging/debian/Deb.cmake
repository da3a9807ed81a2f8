# The Debian packages of the Linux build, made by CPack's DEB generator:
#   cmake --build --preset default --target package
# gives build/vantorel_<version>_amd64.deb (the driver and its modules in
# /usr/lib/vantorel, vantorelctl in /usr/bin, the Python client, the
# Wireshark dissector, the documentation, example systemd units) and
# build/vantorel-dev_<version>_amd64.deb (the device-module SDK, component
# device_sdk of device/CMakeLists.txt).
set(VANTOREL_DOC share/doc/vantorel)

install(TARGETS vantorel-driver RUNTIME DESTINATION lib/vantorel COMPONENT runtime)
install(TARGETS Vantorel_Cpp VantorelDriverCLRGlue Quarn_Cpp
  LIBRARY DESTINATION lib/vantorel COMPONENT runtime)
install(TARGETS vantorelctl RUNTIME DESTINATION bin COMPONENT runtime)
# The driver loads its modules from the folder of its resolved executable,
# so a link in /usr/bin starts it from /usr/lib/vantorel.
install(CODE "file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin\")
  file(CREATE_LINK ../lib/vantorel/vantorel-driver \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin/vantorel-driver\" SYMBOLIC)"
  COMPONENT runtime)
# Debian's python3 finds modules in /usr/lib/python3/dist-packages.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/python/vantorel DESTINATION lib/python3/dist-packages
  COMPONENT runtime FILES_MATCHING PATTERN "*.py" PATTERN "__pycache__" EXCLUDE)
# Wireshark's global folder of Lua plugins.
if(NOT CMAKE_LIBRARY_ARCHITECTURE)
  set(CMAKE_LIBRARY_ARCHITECTURE x86_64-linux-gnu)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/tools/wireshark/vantorel.lua
  DESTINATION lib/${CMAKE_LIBRARY_ARCHITECTURE}/wireshark/plugins COMPONENT runtime)

# Documentation: every package has its copyright and changelog (gzip -9n, as
# Debian's policy asks; changelog.gz, as for a package made from its own
# upstream tree); the module writer's manual belongs to the SDK.
file(GLOB doc_pages ${PROJECT_SOURCE_DIR}/docs/*.md ${PROJECT_SOURCE_DIR}/docs/*.png)
list(FILTER doc_pages EXCLUDE REGEX "/modules\\.md$")
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${doc_pages} DESTINATION ${VANTOREL_DOC} COMPONENT runtime)
file(GLOB units ${CMAKE_CURRENT_SOURCE_DIR}/debian/*.service)
install(FILES ${units} DESTINATION ${VANTOREL_DOC}/examples COMPONENT runtime)
set(changelog ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
configure_file(debian/changelog.in ${CMAKE_BINARY_DIR}/packaging/changelog @ONLY)
add_custom_command(OUTPUT ${changelog}
  COMMAND gzip -9nf -k ${CMAKE_BINARY_DIR}/packaging/changelog
  DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog VERBATIM)
add_custom_target(vantorel_changelog ALL DEPENDS ${changelog})
foreach(component_package runtime:vantorel device_sdk:vantorel-dev)
  string(REPLACE ":" ";" pair ${component_package})
  list(GET pair 0 component)
  list(GET pair 1 package)
  install(FILES debian/copyright ${changelog} DESTINATION share/doc/${package} COMPONENT ${component})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vantorel)
set(CPACK_PACKAGE_VENDOR Vantorel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Vantorel developers <developers@vantorel.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime device_sdk)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME vantorel)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION science)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_RECOMMENDS "python3")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SUGGESTS "tshark")
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
  "driver of a multi-angle spectrophotometer, with a virtual instrument
The Vantorel driver loads the instrument's device module and serves one
client at a time on TCP port 8889 (no authentication: allow the port only
from the machines that must reach it). This package holds the driver and
its modules in /usr/lib/vantorel, including a virtual instrument that
behaves like the real one; the command-line client vantorelctl; the Python
client; a Wireshark dissector of the protocol; documentation and example
systemd units.")
set(CPACK_DEBIAN_DEVICE_SDK_PACKAGE_NAME vantorel-dev)
set(CPACK_DEBIAN_DEVICE_SDK_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVICE_SDK_PACKAGE_ARCHITECTURE amd64)
set(CPACK_DEBIAN_DEVICE_SDK_PACKAGE_RECOMMENDS "vantorel (= ${PROJECT_VERSION})")
set(CPACK_COMPONENT_DEVICE_SDK_DESCRIPTION
  "device-module SDK of the Vantorel driver
Headers and a CMake package (find_package(VantorelDeviceSdk)) for writing
device modules that the Vantorel driver loads, with the module writer's
manual.")
include(CPack)

# The packages checked (label "package", run by the test command after the
# target package): lintian, and a session from the unpacked packages.
if(VANTOREL_BUILD_TESTS AND NOT VANTOREL_SANITIZE)
  add_test(NAME packaging.deb
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/packaging/deb_test.sh ${CMAKE_BINARY_DIR} ${PROJECT_VERSION})
  set_tests_properties(packaging.deb PROPERTIES LABELS package RESOURCE_LOCK port8889 TIMEOUT 600)
endif()
