# Shared helpers for the project's CMake files.

# trevolan_add_subdirs(): adds every direct subfolder that has a CMakeLists.txt,
# so each layer's tests and benchmarks join the build without editing this file.
function(trevolan_add_subdirs)
  file(GLOB children RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  foreach(child IN LISTS children)
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${child}
       AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()

# trevolan_add_gtest(NAME name LABEL label SOURCES ... LIBS ...):
# one GoogleTest executable registered with ctest under one label.
function(trevolan_add_gtest)
  cmake_parse_arguments(T "" "NAME;LABEL" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  target_compile_definitions(${T_NAME} PRIVATE
    TREVOLAN_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    TREVOLAN_TESTDATA_DIR="${PROJECT_SOURCE_DIR}/../shared/testdata")
  gtest_discover_tests(${T_NAME}
    PROPERTIES LABELS ${T_LABEL} ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
    DISCOVERY_TIMEOUT 60)
endfunction()
