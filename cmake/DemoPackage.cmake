# The demo package: installer.exe with the demo payload and documents, laid out as it ships,
# in <build>/demo/package. The engine's own programs are stood in for by the test doubles
# (tests/doubles, built with the tests): the engine service as bin/tnxsvc.exe, the scanner client
# and network-control libraries next to installer.exe.
include(${CMAKE_CURRENT_LIST_DIR}/VersionedLibrary.cmake)
set(DEMO_SOURCE ${CMAKE_SOURCE_DIR}/examples/demo)
# The driver stand-in carries a six-field version, as a driver image does: an upgrade compares it.
add_versioned_library(demo_driver_image DIRECTORY ${CMAKE_BINARY_DIR}/demo-generated ORIGINAL_NAME tnxflt.sys
  VERSION_TEXT "0.1.0.0.1600.0" FIXED_VERSION "1,0,0,1600" DESCRIPTION "Tarnex file-system filter (demo stand-in; no kernel code)")
set(DEMO_PACKAGE ${CMAKE_BINARY_DIR}/demo/package)
file(GLOB_RECURSE DEMO_PAYLOAD CONFIGURE_DEPENDS ${DEMO_SOURCE}/payload/*)
add_custom_command(
  OUTPUT ${DEMO_PACKAGE}/package.xml
  COMMAND ${CMAKE_COMMAND} -E make_directory ${DEMO_PACKAGE}
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${DEMO_SOURCE}/payload ${DEMO_PACKAGE}
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:demo_driver_image> ${DEMO_PACKAGE}/tnxflt.sys
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:engine_service> ${DEMO_PACKAGE}/bin/tnxsvc.exe
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:double_BulwarkClient> $<TARGET_FILE:double_ncapi> ${DEMO_PACKAGE}
  COMMAND ${CMAKE_COMMAND} -DTEMPLATE=${DEMO_SOURCE}/package.xml.in -DBASE=${DEMO_PACKAGE}
          -DOUTPUT=${DEMO_PACKAGE}/package.xml -P ${CMAKE_SOURCE_DIR}/cmake/FillDigests.cmake
  DEPENDS ${DEMO_SOURCE}/package.xml.in ${DEMO_PAYLOAD} ${CMAKE_SOURCE_DIR}/cmake/FillDigests.cmake
          engine_service double_BulwarkClient double_ncapi demo_driver_image
  COMMENT "Laying out the demo package")
add_custom_target(demo_package ALL
  COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:installer> ${DEMO_PACKAGE}/installer.exe
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${CMAKE_SOURCE_DIR}/examples/configuration.xml ${DEMO_PACKAGE}/configuration.xml
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${CMAKE_SOURCE_DIR}/examples/invalid-package.xml ${DEMO_PACKAGE}/invalid-package.xml
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${CMAKE_SOURCE_DIR}/examples/package.xml ${DEMO_PACKAGE}/sample-package.xml
  DEPENDS ${DEMO_PACKAGE}/package.xml installer)
