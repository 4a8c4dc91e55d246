# The lifecycle run of scripts/try.sh (make try), on the demo package as it is laid out in the
# build tree and on a package whose uninstall leaves a key behind (with its next release for the
# upgrade step; both ship the sample configuration document, as packages do) and on a package
# whose install fails, and the report's text processing on its own.
set(TRY_FIXTURES ${CMAKE_SOURCE_DIR}/tests/try/fixtures)
set(TRY_PACKAGES ${CMAKE_BINARY_DIR}/try-fixtures)
set(TRY_OUTPUTS "")
foreach(name leftover leftover-newer bad-digest)
  file(GLOB_RECURSE payload CONFIGURE_DEPENDS ${TRY_FIXTURES}/${name}/payload/*)
  add_custom_command(
    OUTPUT ${TRY_PACKAGES}/${name}/package.xml
    COMMAND ${CMAKE_COMMAND} -E remove_directory ${TRY_PACKAGES}/${name}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${TRY_PACKAGES}/${name}
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${TRY_FIXTURES}/${name}/payload ${TRY_PACKAGES}/${name}
    COMMAND ${CMAKE_COMMAND} -DTEMPLATE=${TRY_FIXTURES}/${name}/package.xml.in -DBASE=${TRY_PACKAGES}/${name}
            -DOUTPUT=${TRY_PACKAGES}/${name}/package.xml -P ${CMAKE_SOURCE_DIR}/cmake/FillDigests.cmake
    DEPENDS ${TRY_FIXTURES}/${name}/package.xml.in ${payload} ${CMAKE_SOURCE_DIR}/cmake/FillDigests.cmake
    COMMENT "Laying out the try package ${name}")
  list(APPEND TRY_OUTPUTS ${TRY_PACKAGES}/${name}/package.xml)
endforeach()
add_custom_target(try_packages ALL
  COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:installer> ${TRY_PACKAGES}/leftover/installer.exe
  COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:installer> ${TRY_PACKAGES}/leftover-newer/installer.exe
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${CMAKE_SOURCE_DIR}/examples/configuration.xml ${TRY_PACKAGES}/leftover/configuration.xml
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${CMAKE_SOURCE_DIR}/examples/configuration.xml ${TRY_PACKAGES}/leftover-newer/configuration.xml
  COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:installer> ${TRY_PACKAGES}/bad-digest/installer.exe
  DEPENDS ${TRY_OUTPUTS} installer)

add_test(NAME try_report_logic COMMAND bash ${CMAKE_SOURCE_DIR}/tests/try/try_logic_test.sh)
add_test(NAME try_demo_package COMMAND bash ${CMAKE_SOURCE_DIR}/tests/try/try_test.sh ${CMAKE_BINARY_DIR} demo)
add_test(NAME try_leftover_key COMMAND bash ${CMAKE_SOURCE_DIR}/tests/try/try_test.sh ${CMAKE_BINARY_DIR} leftover)
add_test(NAME try_failed_install COMMAND bash ${CMAKE_SOURCE_DIR}/tests/try/try_test.sh ${CMAKE_BINARY_DIR} bad-digest)
add_test(NAME try_rejects_incomplete_package COMMAND bash ${CMAKE_SOURCE_DIR}/tests/try/try_test.sh ${CMAKE_BINARY_DIR} incomplete)
set_tests_properties(try_demo_package try_leftover_key try_failed_install PROPERTIES TIMEOUT 300)
