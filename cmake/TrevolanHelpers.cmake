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

# trevolan_add_gtest(NAME name LABEL label SOURCES ... LIBS ... [GROUPS group=filter ...]):
# one GoogleTest executable registered with ctest under one label. With GROUPS the executable is
# registered once per group (ctest name "name.group", run with that gtest filter) and once more as
# "name.rest" for every test no group names, so that `ctest -j` runs the groups side by side and
# no test is left out.
function(trevolan_add_gtest)
  cmake_parse_arguments(T "" "NAME;LABEL" "SOURCES;LIBS;GROUPS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  target_compile_definitions(${T_NAME} PRIVATE
    TREVOLAN_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    TREVOLAN_TESTDATA_DIR="${PROJECT_SOURCE_DIR}/../shared/testdata")
  # One ctest entry per suite executable: a sanitized process per test case costs more to start than most
  # cases take to run. Pass --gtest_filter through the executable to run single cases.
  if(NOT T_GROUPS)
    add_test(NAME ${T_NAME} COMMAND ${T_NAME} --gtest_brief=1)
    set_tests_properties(${T_NAME} PROPERTIES LABELS ${T_LABEL}
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 900)
    return()
  endif()
  set(named "")
  foreach(group IN LISTS T_GROUPS)
    string(REPLACE "=" ";" parts "${group}")
    list(GET parts 0 group_name)
    list(GET parts 1 group_filter)
    add_test(NAME ${T_NAME}.${group_name} COMMAND ${T_NAME} --gtest_brief=1 --gtest_filter=${group_filter})
    set_tests_properties(${T_NAME}.${group_name} PROPERTIES LABELS ${T_LABEL}
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 900)
    # The rest excludes what the group runs (its positive patterns).
    string(REGEX REPLACE "-.*$" "" positive "${group_filter}")
    list(APPEND named "${positive}")
  endforeach()
  list(JOIN named ":" excluded)
  add_test(NAME ${T_NAME}.rest COMMAND ${T_NAME} --gtest_brief=1 --gtest_filter=-${excluded})
  set_tests_properties(${T_NAME}.rest PROPERTIES LABELS ${T_LABEL}
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 900)
endfunction()

# trevolan_glob_library(NAME name [LIBS ...]): a static library of every .cpp in the current folder
# (not recursive). Headers are included as "folder/File.h" from the project root.
function(trevolan_glob_library)
  cmake_parse_arguments(L "" "NAME" "LIBS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_library(${L_NAME} STATIC ${sources})
  target_include_directories(${L_NAME} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${L_NAME} PUBLIC ${L_LIBS})
endfunction()

# trevolan_glob_gtest(NAME name LABEL label LIBS ... [GROUPS ...]): one test executable of every .cpp in
# the current folder (GROUPS as for trevolan_add_gtest); skipped while a library it needs does not
# exist yet.
function(trevolan_glob_gtest)
  cmake_parse_arguments(T "" "NAME;LABEL" "LIBS;GROUPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT sources)
    return()
  endif()
  foreach(lib IN LISTS T_LIBS)
    if(lib MATCHES "^trevolan_" AND NOT TARGET ${lib})
      return()
    endif()
  endforeach()
  trevolan_add_gtest(NAME ${T_NAME} LABEL ${T_LABEL} SOURCES ${sources} LIBS ${T_LIBS} GROUPS ${T_GROUPS})
endfunction()

# trevolan_glob_bench(NAME name LIBS ...): one Google Benchmark executable of every .cpp in the folder.
function(trevolan_glob_bench)
  cmake_parse_arguments(B "" "NAME" "LIBS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT sources)
    return()
  endif()
  foreach(lib IN LISTS B_LIBS)
    if(lib MATCHES "^trevolan_" AND NOT TARGET ${lib})
      return()
    endif()
  endforeach()
  add_executable(${B_NAME} ${sources})
  target_link_libraries(${B_NAME} PRIVATE ${B_LIBS} benchmark::benchmark benchmark::benchmark_main)
endfunction()

# trevolan_glob_qt_library(NAME name [EXCLUDE regex] [LIBS ...]): like trevolan_glob_library, with Qt's
# automoc, for the application layers.
function(trevolan_glob_qt_library)
  cmake_parse_arguments(L "" "NAME;EXCLUDE;INCLUDE" "LIBS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(L_EXCLUDE)
    list(FILTER sources EXCLUDE REGEX "${L_EXCLUDE}")
  endif()
  if(L_INCLUDE)
    list(FILTER sources INCLUDE REGEX "${L_INCLUDE}")
  endif()
  if(NOT sources)
    return()
  endif()
  file(GLOB headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  add_library(${L_NAME} STATIC ${sources} ${headers})
  set_target_properties(${L_NAME} PROPERTIES AUTOMOC ON)
  target_include_directories(${L_NAME} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${L_NAME} PUBLIC ${L_LIBS})
endfunction()
