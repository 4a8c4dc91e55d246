# The end-to-end sample package, laid out at build time in <build>/bin/e2e/package: payload
# files, versioned libraries built with their version resources, the recording helper, and the
# installation documents with the digests of exactly the payload built here.
set(E2E_FIXTURES ${CMAKE_SOURCE_DIR}/tests/e2e/fixtures)
set(E2E_GENERATED ${CMAKE_BINARY_DIR}/e2e-generated)
set(E2E_PACKAGE ${CMAKE_BINARY_DIR}/bin/e2e/package)

# A tiny library whose version resource carries a six-field FileVersion text; the version the
# installer compares is the four fields between the fifth-last and the last dot.
function(e2e_versioned_library target file_name version_text fixed_version description)
  set(DLL_FILE_NAME ${file_name})
  set(DLL_VERSION_TEXT ${version_text})
  set(DLL_FIXED_VERSION ${fixed_version})
  set(DLL_DESCRIPTION ${description})
  configure_file(${E2E_FIXTURES}/versioned.rc.in ${E2E_GENERATED}/${target}.rc @ONLY)
  add_library(${target} SHARED ${E2E_FIXTURES}/versioned.c ${E2E_GENERATED}/${target}.rc)
  set_target_properties(${target} PROPERTIES
    PREFIX ""
    RUNTIME_OUTPUT_DIRECTORY ${E2E_GENERATED}/libraries
    ARCHIVE_OUTPUT_DIRECTORY ${E2E_GENERATED}/import)
endfunction()

# The first field differs against the order of the compared fields, so that comparing the wrong
# four fields gives the wrong answer.
e2e_versioned_library(e2e_tarnexcore_current tarnexcore.dll "1.1.0.0.5.0" "1,0,0,5" "Tarnex core")
e2e_versioned_library(e2e_tarnexcore_next    tarnexcore.dll "0.1.0.0.6.0" "1,0,0,6" "Tarnex core (next release)")
e2e_versioned_library(e2e_tarnexscan_current tarnexscan.dll "1.1.0.0.5.0" "1,0,0,5" "Tarnex scanner")
e2e_versioned_library(e2e_tarnexscan_older   tarnexscan.dll "2.1.0.0.4.9" "1,0,0,4" "Tarnex scanner (older build)")

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
          recording_helper engine_service double_BulwarkClient double_ncapi e2e_tarnexcore_current e2e_tarnexcore_next e2e_tarnexscan_current e2e_tarnexscan_older
  COMMENT "Laying out the end-to-end sample package")
add_custom_target(e2e_package DEPENDS ${E2E_DOCUMENTS})
add_dependencies(e2e_tests e2e_package)
