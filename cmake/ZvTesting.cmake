# Test helpers shared by every tests/<module>/ folder.
#
#   zv_add_native_test(NAME n SOURCES a.cpp ... LIBS lib ... [FIXTURES f ...] [TIMEOUT s])
#     a doctest binary of the portable core, built and run on Linux only.
#   zv_add_wine_test(NAME n SOURCES a.cpp ... LIBS lib ... [FIXTURES f ...] [TIMEOUT s])
#     a doctest binary for Windows, run under Wine (private prefix, Xvfb)
#     by tests/wine/wine-run; built in the Windows build only.
# Tests needing servers name the ctest fixtures that start them. Tests of
# one peer whose state or counters they read (the fault server's byte
# counters, the API peer's collected records and modes) take that peer's
# resource lock, so that no other test's traffic lands in what they measure.

function(_zv_peer_locks test fixtures)
  set(_locks)
  if("peers.faulty" IN_LIST fixtures)
    list(APPEND _locks peers.faulty.counters)
  endif()
  if("peers.api" IN_LIST fixtures)
    list(APPEND _locks peers.api.records)
  endif()
  if(_locks)
    set_property(TEST ${test} APPEND PROPERTY RESOURCE_LOCK ${_locks})
  endif()
endfunction()

function(_zv_add_test kind)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;FIXTURES;LABELS" ${ARGN})
  set(target test_${T_NAME})
  add_executable(${target} ${T_SOURCES})
  target_link_libraries(${target} PRIVATE zv_test_main ${T_LIBS})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_test(NAME ${kind}.${T_NAME} COMMAND ${target})
  set_tests_properties(${kind}.${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${kind};${T_LABELS}"
    ENVIRONMENT "ZV_SOURCE_DIR=${PROJECT_SOURCE_DIR};ZV_BINARY_DIR=${PROJECT_BINARY_DIR}")
  if(kind STREQUAL "wine")
    list(APPEND T_FIXTURES wine)
  endif()
  if(T_FIXTURES)
    set_tests_properties(${kind}.${T_NAME} PROPERTIES FIXTURES_REQUIRED "${T_FIXTURES}")
    _zv_peer_locks(${kind}.${T_NAME} "${T_FIXTURES}")
  endif()
endfunction()

function(zv_add_native_test)
  if(NOT ZV_WINDOWS)
    _zv_add_test(native ${ARGN})
  endif()
endfunction()

function(zv_add_wine_test)
  if(ZV_WINDOWS)
    _zv_add_test(wine ${ARGN})
  endif()
endfunction()

# A script test (shell or Python) with optional fixtures.
function(zv_add_script_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "COMMAND;FIXTURES;LABELS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_test(NAME ${T_NAME} COMMAND ${T_COMMAND})
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "script;${T_LABELS}"
    ENVIRONMENT "ZV_SOURCE_DIR=${PROJECT_SOURCE_DIR};ZV_BINARY_DIR=${PROJECT_BINARY_DIR}")
  if(T_FIXTURES)
    set_tests_properties(${T_NAME} PROPERTIES FIXTURES_REQUIRED "${T_FIXTURES}")
    _zv_peer_locks(${T_NAME} "${T_FIXTURES}")
  endif()
endfunction()
