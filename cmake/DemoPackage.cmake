# The demo package: installer.exe with the demo payload and documents, laid out as it ships,
# in <build>/demo/package. The engine's own programs are stood in for by the test doubles
# (tests/doubles, built with the tests): the engine service as bin/tnxsvc.exe, the scanner client
# and network-control libraries next to installer.exe.
set(DEMO_SOURCE ${CMAKE_SOURCE_DIR}/examples/demo)
set(DEMO_PACKAGE ${CMAKE_BINARY_DIR}/demo/package)
file(GLOB_RECURSE DEMO_PAYLOAD CONFIGURE_DEPENDS ${DEMO_SOURCE}/payload/*)
add_custom_command(
  OUTPUT ${DEMO_PACKAGE}/package.xml
  COMMAND ${CMAKE_COMMAND} -E make_directory ${DEMO_PACKAGE}
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${DEMO_SOURCE}/payload ${DEMO_PACKAGE}
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:engine_service> ${DEMO_PACKAGE}/bin/tnxsvc.exe
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:double_BulwarkClient> $<TARGET_FILE:double_ncapi> ${DEMO_PACKAGE}
  COMMAND ${CMAKE_COMMAND} -DTEMPLATE=${DEMO_SOURCE}/package.xml.in -DBASE=${DEMO_PACKAGE}
          -DOUTPUT=${DEMO_PACKAGE}/package.xml -P ${CMAKE_SOURCE_DIR}/cmake/FillDigests.cmake
  DEPENDS ${DEMO_SOURCE}/package.xml.in ${DEMO_PAYLOAD} ${CMAKE_SOURCE_DIR}/cmake/FillDigests.cmake
          engine_service double_BulwarkClient double_ncapi
  COMMENT "Laying out the demo package")
add_custom_target(demo_package ALL
  COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:installer> ${DEMO_PACKAGE}/installer.exe
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${CMAKE_SOURCE_DIR}/examples/configuration.xml ${DEMO_PACKAGE}/configuration.xml
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${CMAKE_SOURCE_DIR}/examples/invalid-package.xml ${DEMO_PACKAGE}/invalid-package.xml
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${CMAKE_SOURCE_DIR}/examples/package.xml ${DEMO_PACKAGE}/sample-package.xml
  DEPENDS ${DEMO_PACKAGE}/package.xml installer)
