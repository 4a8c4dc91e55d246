# The end-to-end sample package, laid out at build time in <build>/bin/e2e/package: payload
# files, versioned libraries built with their version resources, the recording helper, and the
# installation documents with the digests of exactly the payload built here.
set(E2E_FIXTURES ${CMAKE_SOURCE_DIR}/tests/e2e/fixtures)
set(E2E_GENERATED ${CMAKE_BINARY_DIR}/e2e-generated)
set(E2E_PACKAGE ${CMAKE_BINARY_DIR}/bin/e2e/package)

# The payload libraries: each version resource carries a six-field FileVersion text; the version
# the installer compares is the four fields between the fifth-last and the last dot. The first
# field differs against the order of the compared fields, so that comparing the wrong four
# fields gives the wrong answer.
set(E2E_LIBRARIES ${E2E_GENERATED}/libraries)
add_versioned_library(e2e_tarnexcore_current DIRECTORY ${E2E_LIBRARIES} ORIGINAL_NAME tarnexcore.dll
  VERSION_TEXT "1.1.0.0.5.0" FIXED_VERSION "1,0,0,5" DESCRIPTION "Tarnex core")
add_versioned_library(e2e_tarnexcore_next DIRECTORY ${E2E_LIBRARIES} ORIGINAL_NAME tarnexcore.dll
  VERSION_TEXT "0.1.0.0.6.0" FIXED_VERSION "1,0,0,6" DESCRIPTION "Tarnex core (next release)")
add_versioned_library(e2e_tarnexscan_current DIRECTORY ${E2E_LIBRARIES} ORIGINAL_NAME tarnexscan.dll
  VERSION_TEXT "1.1.0.0.5.0" FIXED_VERSION "1,0,0,5" DESCRIPTION "Tarnex scanner")
add_versioned_library(e2e_tarnexscan_older DIRECTORY ${E2E_LIBRARIES} ORIGINAL_NAME tarnexscan.dll
  VERSION_TEXT "2.1.0.0.4.9" FIXED_VERSION "1,0,0,4" DESCRIPTION "Tarnex scanner (older build)")

file(GLOB E2E_TEMPLATES CONFIGURE_DEPENDS ${E2E_FIXTURES}/*.xml.in)
file(GLOB E2E_PAYLOAD CONFIGURE_DEPENDS ${E2E_FIXTURES}/payload/*)
set(E2E_DOCUMENTS "")
foreach(template ${E2E_TEMPLATES})
  get_filename_component(name ${template} NAME)
  string(REGEX REPLACE "\\.in$" "" name ${name})
  list(APPEND E2E_DOCUMENTS ${E2E_PACKAGE}/${name})
endforeach()

add_custom_command(
  OUTPUT ${E2E_DOCUMENTS}
  COMMAND ${CMAKE_COMMAND}
          -DFIXTURES=${E2E_FIXTURES}
          -DPACKAGE=${E2E_PACKAGE}
          -DHELPER=$<TARGET_FILE:recording_helper>
          -DRUNTIME_HELPER=$<TARGET_FILE:exit_code_helper>
          -DENGINE_SERVICE=$<TARGET_FILE:engine_service>
          -DSCANNER_CLIENT=$<TARGET_FILE:double_BulwarkClient>
          -DNCAPI=$<TARGET_FILE:double_ncapi>
          -DCORE_CURRENT=$<TARGET_FILE:e2e_tarnexcore_current>
          -DCORE_NEXT=$<TARGET_FILE:e2e_tarnexcore_next>
          -DSCAN_CURRENT=$<TARGET_FILE:e2e_tarnexscan_current>
          -DSCAN_OLDER=$<TARGET_FILE:e2e_tarnexscan_older>
          -DFILL_SCRIPT=${CMAKE_SOURCE_DIR}/cmake/FillDigests.cmake
          -P ${E2E_FIXTURES}/MakePackage.cmake
  DEPENDS ${E2E_TEMPLATES} ${E2E_PAYLOAD}
          ${E2E_FIXTURES}/MakePackage.cmake ${CMAKE_SOURCE_DIR}/cmake/FillDigests.cmake
          recording_helper exit_code_helper engine_service double_BulwarkClient double_ncapi e2e_tarnexcore_current e2e_tarnexcore_next e2e_tarnexscan_current e2e_tarnexscan_older
  COMMENT "Laying out the end-to-end sample package")
add_custom_target(e2e_package DEPENDS ${E2E_DOCUMENTS})
add_dependencies(e2e_tests e2e_package)

include(${CMAKE_SOURCE_DIR}/tests/e2e/fixtures/drivers/drivers.cmake)
