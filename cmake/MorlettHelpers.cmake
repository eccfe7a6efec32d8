# Shared settings for every target of the project.

# Warnings and sanitizers for our own code only (never for third-party sources).
function(morlett_target_settings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 /utf-8)
    if(MORLETT_WERROR)
      target_compile_options(${target} PRIVATE /WX)
    endif()
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra)
    if(MORLETT_WERROR)
      target_compile_options(${target} PRIVATE -Werror)
    endif()
  endif()
  if(WIN32)
    target_compile_definitions(${target} PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                                                 _WIN32_WINNT=0x0A00)
  endif()
endfunction()

# Sanitizers apply to the whole native build (libraries, tests and googletest alike),
# so that every frame is instrumented.
if(MORLETT_SANITIZE AND NOT WIN32)
  add_compile_options(-fsanitize=${MORLETT_SANITIZE} -fno-omit-frame-pointer)
  add_link_options(-fsanitize=${MORLETT_SANITIZE})
  if(MORLETT_SANITIZE MATCHES "undefined")
    add_compile_options(-fno-sanitize-recover=undefined)
  endif()
endif()

# GoogleTest from the distribution's source package, built with our own flags for
# the host and for mingw alike.
macro(morlett_add_googletest)
  if(NOT TARGET gtest)
    set(MORLETT_GTEST_SOURCE "/usr/src/googletest" CACHE PATH "GoogleTest source tree")
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
    if(EXISTS ${MORLETT_GTEST_SOURCE}/CMakeLists.txt)
      add_subdirectory(${MORLETT_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    else()
      find_package(GTest REQUIRED)
      add_library(gtest ALIAS GTest::gtest)
    endif()
  endif()
endmacro()

# One test program per library. Every program runs as a single ctest entry with a
# timeout, natively or under Wine through CMAKE_CROSSCOMPILING_EMULATOR.
function(morlett_add_test_program name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBRARIES" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  morlett_target_settings(${name})
  target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} gtest)
  add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
  set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT})
endfunction()

# Fuzz targets (clang + libFuzzer, native only): built when MORLETT_FUZZ is on, by
# scripts/fuzz.sh. Each target's corpus lives in <library>/tests/corpus/<name>/ and is also
# replayed by the library's ordinary test program.
option(MORLETT_FUZZ "Build the libFuzzer targets (needs clang)" OFF)
if(MORLETT_FUZZ AND NOT WIN32)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

function(morlett_add_fuzz_target name)
  if(NOT MORLETT_FUZZ OR WIN32)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBRARIES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set_property(GLOBAL APPEND PROPERTY MORLETT_FUZZ_TARGETS ${name})
endfunction()
