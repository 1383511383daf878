# tbm_add_resource_library(<target> SOURCE <file> DIRECTORY <folder>
#                          [OUTPUT_NAME <name>] [REFERENCE <file>]
#                          [DEPENDS <files>...] [COMMENT <text>])
#
# Compiles a language source with tbmrc into the resource-only library
# <DIRECTORY>/<OUTPUT_NAME>.so (OUTPUT_NAME defaults to the target's name).
# With REFERENCE, the compiler checks that the source has every string of
# that one (English) with the same placeholders. DEPENDS names further
# sources the compiler reads (shared pictures and tool bars).
#
# Resource-only: no C++ runtime, no sanitizer or fuzzer runtime, nothing but
# the table and the two exports, the same in every build. The C++ runtime
# CMake adds for a C++ source is unused, and --as-needed drops it.
function(tbm_add_resource_library NAME)
  cmake_parse_arguments(ARG "" "SOURCE;DIRECTORY;OUTPUT_NAME;REFERENCE;COMMENT" "DEPENDS" ${ARGN})
  if(NOT ARG_OUTPUT_NAME)
    set(ARG_OUTPUT_NAME ${NAME})
  endif()
  set(generated ${CMAKE_CURRENT_BINARY_DIR}/${NAME}.cpp)
  set(reference)
  if(ARG_REFERENCE)
    set(reference --reference ${ARG_REFERENCE})
  endif()
  if(NOT ARG_COMMENT)
    set(ARG_COMMENT "Compiling the language source ${ARG_SOURCE} into ${ARG_OUTPUT_NAME}")
  endif()
  add_custom_command(
    OUTPUT ${generated}
    COMMAND tbmrc ${reference} --output ${generated} ${ARG_SOURCE}
    DEPENDS tbmrc ${ARG_SOURCE} ${ARG_REFERENCE} ${ARG_DEPENDS}
    COMMENT "${ARG_COMMENT}"
    VERBATIM)
  add_library(${NAME} MODULE ${generated})
  set_target_properties(${NAME} PROPERTIES
    PREFIX ""
    OUTPUT_NAME ${ARG_OUTPUT_NAME}
    LIBRARY_OUTPUT_DIRECTORY ${ARG_DIRECTORY}
    CXX_VISIBILITY_PRESET hidden
    LINKER_LANGUAGE C
    COMPILE_OPTIONS "-Wall;-Wextra;-fno-exceptions;-fno-rtti"
    LINK_OPTIONS "-Wl,-z,defs;-Wl,--as-needed")
endfunction()

# tbm_add_language_libraries(<all target> <source folder> <prefix> <directory>
#                            [COMMENT <what>] [DEPENDS <files>...])
# The language libraries <directory>/<prefix><suffix>.so of the sources
# en, de, fr, it, es and ja in <source folder>, English the reference, all
# built by the target <all target>. There is deliberately no library
# without a suffix: a program tries that name first, so it would hide
# every language.
# The languages and their library suffixes, for every folder of the build.
set(TBM_LANGUAGES en de fr it es ja CACHE INTERNAL "the languages of the texts")
set(TBM_LANGUAGE_SUFFIXES 409 407 40c 410 c0a 411 CACHE INTERNAL "their library suffixes")
function(tbm_add_language_libraries ALL SOURCES PREFIX DIRECTORY)
  cmake_parse_arguments(ARG "" "COMMENT" "DEPENDS" ${ARGN})
  add_custom_target(${ALL} ALL)
  foreach(language suffix IN ZIP_LISTS TBM_LANGUAGES TBM_LANGUAGE_SUFFIXES)
    set(reference)
    if(NOT language STREQUAL "en")
      set(reference REFERENCE ${SOURCES}/en.txt)
    endif()
    tbm_add_resource_library(${PREFIX}${suffix}
      SOURCE ${SOURCES}/${language}.txt DIRECTORY ${DIRECTORY} ${reference}
      DEPENDS ${ARG_DEPENDS}
      COMMENT "Compiling ${ARG_COMMENT} ${language}.txt into ${PREFIX}${suffix}")
    add_dependencies(${ALL} ${PREFIX}${suffix})
  endforeach()
endfunction()
