# Small libraries whose only content is a version resource, for the tests of version reading and
# file upgrades.
#
#   add_versioned_library(<target> DIRECTORY <output folder>  # writes <folder>/<target>.dll
#                         [VERSION_TEXT <FileVersion text>] # without it: no resources at all
#                         [ORIGINAL_NAME <name.dll>]        # OriginalFilename, default <target>.dll
#                         [FIXED_VERSION <a,b,c,d>]         # default 1,0,0,0
#                         [DESCRIPTION <FileDescription>])
#
# The FileVersion text is stored exactly as given: it is the raw text the version reader cuts.
set(VERSIONED_LIBRARY_SOURCES ${CMAKE_CURRENT_LIST_DIR}/../tests/support/fixtures)
set(VERSIONED_LIBRARY_GENERATED ${CMAKE_BINARY_DIR}/versioned-libraries)

function(add_versioned_library target)
  cmake_parse_arguments(ARG "" "DIRECTORY;ORIGINAL_NAME;VERSION_TEXT;FIXED_VERSION;DESCRIPTION" "" ${ARGN})
  if(NOT ARG_DIRECTORY)
    message(FATAL_ERROR "add_versioned_library(${target}): DIRECTORY is required")
  endif()
  if(NOT ARG_ORIGINAL_NAME)
    set(ARG_ORIGINAL_NAME ${target}.dll)
  endif()
  if(NOT ARG_FIXED_VERSION)
    set(ARG_FIXED_VERSION "1,0,0,0")
  endif()
  if(NOT ARG_DESCRIPTION)
    set(ARG_DESCRIPTION "Test library")
  endif()
  set(sources ${VERSIONED_LIBRARY_SOURCES}/versioned_library.c)
  if(DEFINED ARG_VERSION_TEXT)
    set(LIBRARY_FILE_NAME ${ARG_ORIGINAL_NAME})
    set(LIBRARY_VERSION_TEXT ${ARG_VERSION_TEXT})
    set(LIBRARY_FIXED_VERSION ${ARG_FIXED_VERSION})
    set(LIBRARY_DESCRIPTION ${ARG_DESCRIPTION})
    configure_file(${VERSIONED_LIBRARY_SOURCES}/versioned_library.rc.in ${VERSIONED_LIBRARY_GENERATED}/${target}.rc @ONLY)
    list(APPEND sources ${VERSIONED_LIBRARY_GENERATED}/${target}.rc)
  endif()
  add_library(${target} SHARED ${sources})
  set_target_properties(${target} PROPERTIES
    PREFIX ""
    OUTPUT_NAME ${target}
    RUNTIME_OUTPUT_DIRECTORY ${ARG_DIRECTORY}
    ARCHIVE_OUTPUT_DIRECTORY ${VERSIONED_LIBRARY_GENERATED}/import/${target})
endfunction()
