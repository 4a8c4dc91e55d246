# Small libraries with version resources for the version tests, built into
# <bin>/fixtures/operations/. Each FileVersion text is the raw text the version reader cuts.
set(OPS_FIXTURE_DIRECTORY ${CMAKE_BINARY_DIR}/bin/fixtures/operations)
add_versioned_library(ops_version_1_2_3_4 DIRECTORY ${OPS_FIXTURE_DIRECTORY} VERSION_TEXT "9.1.2.3.4.7")     # 1.2.3.4
add_versioned_library(ops_version_1_2_3_5 DIRECTORY ${OPS_FIXTURE_DIRECTORY} VERSION_TEXT "0.1.2.3.5.0")     # 1.2.3.5
add_versioned_library(ops_version_letters DIRECTORY ${OPS_FIXTURE_DIRECTORY} VERSION_TEXT "a.5.6.7.8.b")     # 5.6.7.8
add_versioned_library(ops_version_four_fields DIRECTORY ${OPS_FIXTURE_DIRECTORY} VERSION_TEXT "1.2.3.4")     # too few dots: 777
add_versioned_library(ops_version_none DIRECTORY ${OPS_FIXTURE_DIRECTORY})                                   # no resources at all
add_dependencies(operations_tests ops_version_1_2_3_4 ops_version_1_2_3_5 ops_version_letters ops_version_four_fields
                 ops_version_none)
