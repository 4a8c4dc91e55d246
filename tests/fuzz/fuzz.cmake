# Randomized campaigns: one Windows program per tests/fuzz/fuzz_*.cpp, sharing the campaign loop
# (Campaign.cpp) and the document mutator. A short seeded run of each is a ctest test; the long
# runs are `make fuzz` (scripts/fuzz.sh).
file(GLOB FUZZ_SUPPORT_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/fuzz/*.cpp)
list(FILTER FUZZ_SUPPORT_SOURCES EXCLUDE REGEX "/fuzz_[a-z_]+\\.cpp$")
add_library(fuzz_support STATIC ${FUZZ_SUPPORT_SOURCES})
target_include_directories(fuzz_support PUBLIC ${CMAKE_SOURCE_DIR}/tests ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(fuzz_support PUBLIC installer_core test_support psapi)

# The sample documents the mutators start from, next to the programs in <bin>\fuzz_seeds\.
set(fuzz_seed_dir ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/fuzz_seeds)
file(GLOB fuzz_seed_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/examples/*.xml
     ${CMAKE_SOURCE_DIR}/examples/demo/*.xml.in ${CMAKE_SOURCE_DIR}/tests/e2e/fixtures/*.xml.in)
set(fuzz_seed_copies "")
foreach(source ${fuzz_seed_sources})
  get_filename_component(name ${source} NAME)
  string(REGEX REPLACE "\\.in$" "" name ${name})
  get_filename_component(parent ${source} DIRECTORY)
  get_filename_component(parent ${parent} NAME)
  add_custom_command(OUTPUT ${fuzz_seed_dir}/${parent}-${name}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${fuzz_seed_dir}
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${fuzz_seed_dir}/${parent}-${name}
    DEPENDS ${source} VERBATIM)
  list(APPEND fuzz_seed_copies ${fuzz_seed_dir}/${parent}-${name})
endforeach()
add_custom_target(fuzz_seeds DEPENDS ${fuzz_seed_copies})

file(GLOB FUZZ_PROGRAM_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/fuzz/fuzz_*.cpp)
foreach(src ${FUZZ_PROGRAM_SOURCES})
  get_filename_component(name ${src} NAME_WE)
  # The programs carry the same embedded schemas as installer.exe.
  add_executable(${name} ${src} ${CMAKE_SOURCE_DIR}/src/resources/schemas.rc)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/src/resources)
  target_link_libraries(${name} PRIVATE fuzz_support)
  add_dependencies(${name} fuzz_seeds installer)
endforeach()

# The short seeded runs of `make test` (about a minute together on two cores).
add_test(NAME fuzz_command_line COMMAND fuzz_command_line --seed 1 --count 3000 --failures fuzz-failures)
add_test(NAME fuzz_parsers COMMAND fuzz_parsers --seed 1 --count 20000 --target all --failures fuzz-failures)
add_test(NAME fuzz_documents COMMAND fuzz_documents --seed 1 --count 300 --failures fuzz-failures)
add_test(NAME fuzz_runs COMMAND fuzz_runs --seed 1 --count 40 --failures fuzz-failures)
set_tests_properties(fuzz_command_line fuzz_parsers fuzz_documents fuzz_runs PROPERTIES
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin TIMEOUT 300 LABELS fuzz)
# installer.exe holds the one-installer event while it runs: no other installer may run beside it.
set_tests_properties(fuzz_runs PROPERTIES RUN_SERIAL TRUE)
