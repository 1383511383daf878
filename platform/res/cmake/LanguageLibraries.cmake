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
  set(reference)
  if(NOT LANGUAGE STREQUAL "en")
    set(reference REFERENCE ${TBM_LANGUAGE_SOURCE_DIR}/en.txt)
  endif()
  tbm_add_resource_library(tbmres${SUFFIX}
    SOURCE ${TBM_LANGUAGE_SOURCE_DIR}/${LANGUAGE}.txt DIRECTORY ${TBM_BIN_DIR}/tbmres ${reference}
    DEPENDS ${TBM_SHARED_RESOURCE_SOURCES}
    COMMENT "Compiling the language source ${LANGUAGE}.txt into tbmres${SUFFIX}")
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

foreach(language suffix IN ZIP_LISTS TBM_LANGUAGES TBM_LANGUAGE_SUFFIXES)
  tbm_add_language_library(${language} ${suffix})
endforeach()
