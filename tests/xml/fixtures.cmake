# The sample documents and the two schemas, copied next to the test program so that the tests
# find them at <bin>\xml_fixtures\ whatever drive the source tree appears under.
set(xml_fixture_sources
  ${CMAKE_SOURCE_DIR}/examples/package.xml
  ${CMAKE_SOURCE_DIR}/examples/configuration.xml
  ${CMAKE_SOURCE_DIR}/examples/invalid-package.xml
  ${CMAKE_SOURCE_DIR}/src/resources/install.xsd
  ${CMAKE_SOURCE_DIR}/src/resources/nvxcrvconfig.xsd)
set(xml_fixture_dir ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/xml_fixtures)
set(xml_fixture_copies "")
foreach(source ${xml_fixture_sources})
  get_filename_component(name ${source} NAME)
  add_custom_command(OUTPUT ${xml_fixture_dir}/${name}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${xml_fixture_dir}
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${xml_fixture_dir}/${name}
    DEPENDS ${source}
    VERBATIM)
  list(APPEND xml_fixture_copies ${xml_fixture_dir}/${name})
endforeach()
add_custom_target(xml_fixtures DEPENDS ${xml_fixture_copies})
add_dependencies(xml_tests xml_fixtures)
