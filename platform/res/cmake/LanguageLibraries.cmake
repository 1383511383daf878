# The language libraries bin/tbmres/tbmres<suffix>.so, one per language
# source in res/lang, and the help pages bin/help/<suffix>/tbmobile.htm.
#
# There is deliberately no library without a suffix: the program tries that
# name first, so it would hide every language. English is the reference the
# compiler checks every translation against.

set(TBM_LANGUAGE_SOURCE_DIR ${PROJECT_SOURCE_DIR}/res/lang)
set(TBM_HELP_SOURCE_DIR ${PROJECT_SOURCE_DIR}/res/help)
file(GLOB TBM_SHARED_RESOURCE_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/res/pictures/*.txt)

add_custom_target(tbm_language_libraries ALL)

# tbm_add_language_library(<language> <suffix>): res/lang/<language>.txt
# becomes tbmres/tbmres<suffix>.so, and res/help/<language>/tbmobile.htm
# becomes help/<suffix>/tbmobile.htm.
function(tbm_add_language_library LANGUAGE SUFFIX)
  set(source ${TBM_LANGUAGE_SOURCE_DIR}/${LANGUAGE}.txt)
  set(generated ${CMAKE_CURRENT_BINARY_DIR}/tbmres${SUFFIX}.cpp)
  set(reference)
  if(NOT LANGUAGE STREQUAL "en")
    set(reference --reference ${TBM_LANGUAGE_SOURCE_DIR}/en.txt)
  endif()
  add_custom_command(
    OUTPUT ${generated}
    COMMAND tbmrc ${reference} --output ${generated} ${source}
    DEPENDS tbmrc ${source} ${TBM_LANGUAGE_SOURCE_DIR}/en.txt ${TBM_SHARED_RESOURCE_SOURCES}
    COMMENT "Compiling the language source ${LANGUAGE}.txt into tbmres${SUFFIX}"
    VERBATIM)

  # Resource-only: no C++ runtime, no sanitizer or fuzzer runtime, nothing
  # but the table and the two exports, the same in every build. The C++
  # runtime CMake adds for a C++ source is unused, and --as-needed drops it.
  add_library(tbmres${SUFFIX} MODULE ${generated})
  set_target_properties(tbmres${SUFFIX} PROPERTIES
    PREFIX ""
    LIBRARY_OUTPUT_DIRECTORY ${TBM_BIN_DIR}/tbmres
    CXX_VISIBILITY_PRESET hidden
    LINKER_LANGUAGE C
    COMPILE_OPTIONS "-Wall;-Wextra;-fno-exceptions;-fno-rtti"
    LINK_OPTIONS "-Wl,-z,defs;-Wl,--as-needed")
  add_dependencies(tbm_language_libraries tbmres${SUFFIX})

  set(help ${TBM_BIN_DIR}/help/${SUFFIX}/tbmobile.htm)
  add_custom_command(
    OUTPUT ${help}
    COMMAND ${CMAKE_COMMAND} -E copy ${TBM_HELP_SOURCE_DIR}/${LANGUAGE}/tbmobile.htm ${help}
    DEPENDS ${TBM_HELP_SOURCE_DIR}/${LANGUAGE}/tbmobile.htm
    COMMENT "Installing the ${LANGUAGE} help page into help/${SUFFIX}"
    VERBATIM)
  add_custom_target(tbm_help_${SUFFIX} DEPENDS ${help})
  add_dependencies(tbm_language_libraries tbm_help_${SUFFIX})
endfunction()

tbm_add_language_library(en 409)
tbm_add_language_library(de 407)
tbm_add_language_library(fr 40c)
tbm_add_language_library(it 410)
tbm_add_language_library(es c0a)
tbm_add_language_library(ja 411)
