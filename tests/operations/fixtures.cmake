# Small libraries with version resources for the version tests, built into
# <bin>/fixtures/operations/. Each FileVersion text is the raw text the version reader cuts.
set(OPS_FIXTURES ${CMAKE_SOURCE_DIR}/tests/operations/fixtures)
set(OPS_GENERATED ${CMAKE_BINARY_DIR}/operations-generated)

function(ops_versioned_library target version_text)
  set(OPS_VERSION_TEXT ${version_text})
  set(sources ${OPS_FIXTURES}/library.c)
  if(NOT version_text STREQUAL "")
    configure_file(${OPS_FIXTURES}/versioned.rc.in ${OPS_GENERATED}/${target}.rc @ONLY)
    list(APPEND sources ${OPS_GENERATED}/${target}.rc)
  endif()
  add_library(${target} SHARED ${sources})
  set_target_properties(${target} PROPERTIES
    PREFIX ""
    OUTPUT_NAME ${target}
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin/fixtures/operations
    ARCHIVE_OUTPUT_DIRECTORY ${OPS_GENERATED}/import)
  add_dependencies(operations_tests ${target})
endfunction()

ops_versioned_library(ops_version_1_2_3_4 "9.1.2.3.4.7")     # version 1.2.3.4
ops_versioned_library(ops_version_1_2_3_5 "0.1.2.3.5.0")     # version 1.2.3.5
ops_versioned_library(ops_version_letters "a.5.6.7.8.b")     # version 5.6.7.8
ops_versioned_library(ops_version_four_fields "1.2.3.4")     # too few dots: 777
ops_versioned_library(ops_version_none "")                   # no resources at all
