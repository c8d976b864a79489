# Target helpers. "core" code has no Windows dependency and is built in both
# trees (native under the sanitizers, and cross for the program); "win" code is
# built in the cross tree only.

function(mb_core_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
endfunction()

function(mb_win_library name)
  if(WIN32)
    add_library(${name} STATIC ${ARGN})
    target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
  endif()
endfunction()

# mb_test(<name> [WIN] SOURCES <files...> LIBS <libs...> [LABELS <labels...>]
#         [LOCK <resource>] [TIMEOUT <seconds>])
# A GoogleTest program registered as one ctest entry. WIN tests exist in the
# cross tree only and run under Wine; the others run in both trees.
function(mb_test name)
  cmake_parse_arguments(T "WIN" "TIMEOUT" "SOURCES;LIBS;LABELS;LOCK" ${ARGN})
  if(T_WIN AND NOT WIN32)
    return()
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main GTest::gmock)
  if(WIN32)
    set(prefix win)
  else()
    set(prefix native)
  endif()
  add_test(NAME ${prefix}.${name} COMMAND ${name} --gtest_color=no)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${prefix}.${name} PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${prefix};${T_LABELS}")
  if(T_LOCK)
    set_tests_properties(${prefix}.${name} PROPERTIES RESOURCE_LOCK "${T_LOCK}")
  endif()
endfunction()

# A Google Benchmark program; native tree only, never run by the tests.
function(mb_benchmark name)
  if(NOT WIN32 AND benchmark_FOUND)
    add_executable(${name} ${ARGN})
    target_link_libraries(${name} PRIVATE benchmark::benchmark)
  endif()
endfunction()

# mb_version_resource(<target> <description>)
# The version resource of a shipped program or library: file and product
# version from the project version, the product name, the description and the
# file's own name. Call it after the target's OUTPUT_NAME and PREFIX are set.
function(mb_version_resource target description)
  get_target_property(type ${target} TYPE)
  get_target_property(MB_INTERNAL_NAME ${target} OUTPUT_NAME)
  if(NOT MB_INTERNAL_NAME)
    set(MB_INTERNAL_NAME ${target})
  endif()
  if(type STREQUAL "SHARED_LIBRARY")
    set(MB_FILE_TYPE VFT_DLL)
    set(MB_ORIGINAL_FILENAME ${MB_INTERNAL_NAME}.dll)
  else()
    set(MB_FILE_TYPE VFT_APP)
    set(MB_ORIGINAL_FILENAME ${MB_INTERNAL_NAME}.exe)
  endif()
  set(MB_FILE_DESCRIPTION "${description}")
  configure_file(${CMAKE_SOURCE_DIR}/cmake/version.rc.in ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc @ONLY)
  target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
endfunction()
