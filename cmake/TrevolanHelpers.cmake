# Shared helpers for the project's CMake files.

# trevolan_add_subdirs([EXCEPT folder...]): adds every direct subfolder, so each layer's tests and
# benchmarks join the build without editing this file. A subfolder without a CMakeLists.txt stops the
# configure (name it in EXCEPT when it only holds data): a folder that silently drops out takes its tests
# with it.
function(trevolan_add_subdirs)
  cmake_parse_arguments(S "" "" "EXCEPT" ${ARGN})
  file(GLOB children RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  foreach(child IN LISTS children)
    if(NOT IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${child} OR child IN_LIST S_EXCEPT)
      continue()
    endif()
    if(NOT EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
      message(FATAL_ERROR "${CMAKE_CURRENT_SOURCE_DIR}/${child} has no CMakeLists.txt")
    endif()
    add_subdirectory(${child})
  endforeach()
endfunction()

# trevolan_require_targets(name...): stops the configure when one of our own libraries or tools is not
# defined, instead of letting a test or benchmark drop out of the build without a word.
function(trevolan_require_targets)
  foreach(lib IN LISTS ARGN)
    if(lib MATCHES "^trevolan[_-]" AND NOT TARGET ${lib})
      message(FATAL_ERROR "${CMAKE_CURRENT_SOURCE_DIR} needs ${lib}, which is not defined")
    endif()
  endforeach()
endfunction()

# trevolan_glob_sources(var): every .cpp of the current folder (not recursive); a folder that declares a
# target and has no source is a mistake, not an empty target.
function(trevolan_glob_sources var)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT sources)
    message(FATAL_ERROR "${CMAKE_CURRENT_SOURCE_DIR} has no .cpp file")
  endif()
  set(${var} ${sources} PARENT_SCOPE)
endfunction()

# trevolan_add_gtest(NAME name LABEL label SOURCES ... LIBS ... [SHARDS n] [READERS filter] [GROUPS ...]):
# one GoogleTest executable registered with ctest under one label.
# GROUPS (group=filter ...) registers the executable once per group (ctest name `name.group`, run with
# that GoogleTest filter) and as `name` for every case no group names, so that `ctest -j` runs a long
# suite's groups side by side and no case is left out.
# SHARDS splits the cases of `name` (those no group or READERS names) over n ctest entries `name.0` ...
# (GoogleTest's own sharding: case k runs in entry k mod n); every case still runs once.
# READERS is a GoogleTest filter naming the cases that hand our files to the outside readers (LibreOffice,
# openpyxl): they take seconds each, so they run as the ctest entry `name.readers` under the label
# `readers` (./test.sh runs it; a quick loop can leave it out with -LE readers). That entry fails when a
# case skips or the filter selects no case at all, so a renamed case or a missing reader cannot slip out
# of the run unnoticed.
function(trevolan_add_gtest)
  cmake_parse_arguments(T "" "NAME;LABEL;READERS;SHARDS" "SOURCES;LIBS;GROUPS" ${ARGN})
  trevolan_require_targets(${T_LIBS})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  target_compile_definitions(${T_NAME} PRIVATE
    TREVOLAN_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    TREVOLAN_TESTDATA_DIR="${PROJECT_SOURCE_DIR}/../shared/testdata")
  # One ctest entry per suite executable (or group, or shard): a sanitized process per test case costs more
  # to start than most cases take to run. Pass --gtest_filter through the executable to run single cases.
  if(NOT T_SHARDS)
    set(T_SHARDS 1)
  endif()
  set(filter)
  set(excluded)
  foreach(group IN LISTS T_GROUPS)
    string(REPLACE "=" ";" parts "${group}")
    list(GET parts 0 group_name)
    list(GET parts 1 group_filter)
    trevolan_add_gtest_entries(${T_NAME}.${group_name} ${T_NAME} ${T_LABEL} 1
      --gtest_brief=1 --gtest_filter=${group_filter})
    # The remaining entry leaves out what the group runs (its positive patterns).
    string(REGEX REPLACE "-.*$" "" positive "${group_filter}")
    list(APPEND excluded "${positive}")
  endforeach()
  if(T_READERS)
    list(APPEND excluded "${T_READERS}")
  endif()
  if(excluded)
    list(JOIN excluded ":" excluded)
    set(filter --gtest_filter=-${excluded})
  endif()
  if(T_READERS)
    trevolan_add_gtest_entries(${T_NAME}.readers ${T_NAME} readers 1 --gtest_filter=${T_READERS})
    set_tests_properties(${T_NAME}.readers PROPERTIES
      FAIL_REGULAR_EXPRESSION "\\[  PASSED  \\] 0 tests;\\[  SKIPPED \\]")
  endif()
  trevolan_add_gtest_entries(${T_NAME} ${T_NAME} ${T_LABEL} ${T_SHARDS} --gtest_brief=1 ${filter})
endfunction()

# The ctest entries of one test executable: `entry` alone, or `entry.0` ... `entry.<n-1>` as shards.
function(trevolan_add_gtest_entries entry executable label shards)
  set(environment "QT_QPA_PLATFORM=offscreen")
  if(shards EQUAL 1)
    add_test(NAME ${entry} COMMAND ${executable} ${ARGN})
    set_tests_properties(${entry} PROPERTIES LABELS ${label} ENVIRONMENT "${environment}" TIMEOUT 900)
    return()
  endif()
  math(EXPR last "${shards} - 1")
  foreach(index RANGE ${last})
    add_test(NAME ${entry}.${index} COMMAND ${executable} ${ARGN})
    set_tests_properties(${entry}.${index} PROPERTIES LABELS ${label} TIMEOUT 900
      ENVIRONMENT "${environment};GTEST_TOTAL_SHARDS=${shards};GTEST_SHARD_INDEX=${index}")
  endforeach()
endfunction()

# trevolan_glob_library(NAME name [LIBS ...]): a static library of every .cpp in the current folder
# (not recursive). Headers are included as "folder/File.h" from the project root.
function(trevolan_glob_library)
  cmake_parse_arguments(L "" "NAME" "LIBS" ${ARGN})
  trevolan_glob_sources(sources)
  trevolan_require_targets(${L_LIBS})
  add_library(${L_NAME} STATIC ${sources})
  target_include_directories(${L_NAME} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${L_NAME} PUBLIC ${L_LIBS})
endfunction()

# trevolan_glob_gtest(NAME name LABEL label LIBS ... [SHARDS n] [READERS filter] [GROUPS ...]): one test
# executable of every .cpp in the current folder (see trevolan_add_gtest).
function(trevolan_glob_gtest)
  cmake_parse_arguments(T "" "NAME;LABEL;READERS;SHARDS" "LIBS;GROUPS" ${ARGN})
  trevolan_glob_sources(sources)
  trevolan_add_gtest(NAME ${T_NAME} LABEL ${T_LABEL} READERS "${T_READERS}" SHARDS "${T_SHARDS}"
    SOURCES ${sources} LIBS ${T_LIBS} GROUPS ${T_GROUPS})
endfunction()

# trevolan_glob_bench(NAME name LIBS ...): one Google Benchmark executable of every .cpp in the folder.
function(trevolan_glob_bench)
  cmake_parse_arguments(B "" "NAME" "LIBS" ${ARGN})
  trevolan_glob_sources(sources)
  trevolan_require_targets(${B_LIBS})
  add_executable(${B_NAME} ${sources})
  target_link_libraries(${B_NAME} PRIVATE ${B_LIBS} benchmark::benchmark benchmark::benchmark_main)
endfunction()

# trevolan_glob_qt_library(NAME name [EXCLUDE regex] [INCLUDE regex] [LIBS ...]): like
# trevolan_glob_library, with Qt's automoc, for the application layers. EXCLUDE and INCLUDE filter the
# sources (and the headers, by the same names) when one folder holds two libraries.
function(trevolan_glob_qt_library)
  cmake_parse_arguments(L "" "NAME;EXCLUDE;INCLUDE" "LIBS" ${ARGN})
  trevolan_glob_sources(sources)
  file(GLOB headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  if(L_EXCLUDE)
    list(FILTER sources EXCLUDE REGEX "${L_EXCLUDE}")
    list(FILTER headers EXCLUDE REGEX "${L_EXCLUDE}")
  endif()
  if(L_INCLUDE)
    list(FILTER sources INCLUDE REGEX "${L_INCLUDE}")
    list(FILTER headers INCLUDE REGEX "${L_INCLUDE}")
  endif()
  if(NOT sources)
    message(FATAL_ERROR "${L_NAME}: no source of ${CMAKE_CURRENT_SOURCE_DIR} passes the filters")
  endif()
  trevolan_require_targets(${L_LIBS})
  add_library(${L_NAME} STATIC ${sources} ${headers})
  set_target_properties(${L_NAME} PROPERTIES AUTOMOC ON)
  target_include_directories(${L_NAME} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${L_NAME} PUBLIC ${L_LIBS})
endfunction()
