# pkgtool.exe: the package authors' tools (harvest, lint), built from the same library as
# installer.exe and carrying the same embedded schemas. Its sources live in pkgtool/, outside
# the src/*/*.cpp glob of installer_core.
file(GLOB PKGTOOL_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/pkgtool/*.cpp)
list(FILTER PKGTOOL_SOURCES EXCLUDE REGEX "/pkgtool/Main\\.cpp$")
add_library(pkgtool_core STATIC ${PKGTOOL_SOURCES})
target_include_directories(pkgtool_core PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(pkgtool_core PUBLIC installer_core)

add_executable(pkgtool pkgtool/Main.cpp pkgtool/pkgtool.rc)
target_link_libraries(pkgtool PRIVATE pkgtool_core)
target_include_directories(pkgtool PRIVATE ${CMAKE_SOURCE_DIR}/src/resources)
set_source_files_properties(pkgtool/pkgtool.rc PROPERTIES
  OBJECT_DEPENDS "${CMAKE_SOURCE_DIR}/src/resources/install.xsd;${CMAKE_SOURCE_DIR}/src/resources/nvxcrvconfig.xsd;${CMAKE_SOURCE_DIR}/src/resources/schemas.rc")

if(INSTALLER_TESTS)
  # The engine service double carries a six-field version, as the engine's programs do.
  target_sources(engine_service PRIVATE ${CMAKE_SOURCE_DIR}/tests/doubles/engine_service.rc)

  # Payload libraries for the lint tests: one with a usable version text, one with four fields.
  set(PKGTOOL_FIXTURES ${CMAKE_BINARY_DIR}/bin/pkgtool-fixtures)
  add_versioned_library(pkgtool_versioned DIRECTORY ${PKGTOOL_FIXTURES} ORIGINAL_NAME engine.dll
    VERSION_TEXT "0.1.2.0.7.0" FIXED_VERSION "1,2,0,7" DESCRIPTION "Tarnex engine")
  add_versioned_library(pkgtool_four_fields DIRECTORY ${PKGTOOL_FIXTURES} ORIGINAL_NAME engine.dll
    VERSION_TEXT "1.2.0.7" FIXED_VERSION "1,2,0,7" DESCRIPTION "Tarnex engine (four fields)")

  # The demo payload as it stands in examples/, next to the test program whatever drive the source
  # tree appears under.
  file(GLOB_RECURSE PKGTOOL_DEMO_PAYLOAD CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/examples/demo/payload/*)
  add_custom_command(OUTPUT ${PKGTOOL_FIXTURES}/demo-payload.stamp
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${PKGTOOL_FIXTURES}/demo-payload
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${CMAKE_SOURCE_DIR}/examples/demo/payload ${PKGTOOL_FIXTURES}/demo-payload
    COMMAND ${CMAKE_COMMAND} -E touch ${PKGTOOL_FIXTURES}/demo-payload.stamp
    DEPENDS ${PKGTOOL_DEMO_PAYLOAD}
    VERBATIM)
  add_custom_target(pkgtool_fixtures DEPENDS ${PKGTOOL_FIXTURES}/demo-payload.stamp)

  file(GLOB PKGTOOL_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/pkgtool/*.cpp)
  add_executable(pkgtool_tests ${PKGTOOL_TEST_SOURCES} ${CMAKE_SOURCE_DIR}/src/resources/schemas.rc)
  target_include_directories(pkgtool_tests PRIVATE ${CMAKE_SOURCE_DIR}/src/resources)
  target_link_libraries(pkgtool_tests PRIVATE test_support pkgtool_core)
  add_dependencies(pkgtool_tests pkgtool installer demo_package pkgtool_fixtures pkgtool_versioned pkgtool_four_fields ${TEST_DOUBLES})
  # The round trip installs into HKLM: its tests run one at a time.
  gtest_discover_tests(pkgtool_tests
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 120
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin
    PROPERTIES TIMEOUT 300 RUN_SERIAL TRUE)
endif()
