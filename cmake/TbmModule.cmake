# Helpers shared by every module's CMakeLists.

# tbm_add_tests(NAME <exe> LABEL <label> SOURCES <files...> LIBS <targets...>
#               [ENVIRONMENT <NAME=VALUE...>])
# Builds one GoogleTest program into build/bin (beside the libraries and data
# files it exercises) and registers each of its tests with ctest under LABEL,
# run with the environment variables given.
function(tbm_add_tests)
  cmake_parse_arguments(T "" "NAME;LABEL;TIMEOUT" "SOURCES;LIBS;ENVIRONMENT" ${ARGN})
  if(NOT TBM_BUILD_TESTS)
    return()
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} tbm_test_support GTest::gtest GTest::gtest_main
                        GTest::gmock)
  set(properties LABELS ${T_LABEL} TIMEOUT ${T_TIMEOUT})
  if(T_ENVIRONMENT)
    # One property value holding every variable.
    string(REPLACE ";" "\\;" environment "${T_ENVIRONMENT}")
    list(APPEND properties ENVIRONMENT "${environment}")
  endif()
  gtest_discover_tests(${T_NAME}
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
    PROPERTIES ${properties}
    DISCOVERY_TIMEOUT 60)
endfunction()
