# Shared build settings for our own targets.

# Every immediate subdirectory of DIR that has a CMakeLists.txt, in name order.
# Libraries and test folders are picked up without editing a shared list.
function(remote_add_subdirectories dir)
  file(GLOB children LIST_DIRECTORIES true RELATIVE "${CMAKE_CURRENT_SOURCE_DIR}/${dir}"
       "${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*")
  list(SORT children)
  foreach(child IN LISTS children)
    if(EXISTS "${CMAKE_CURRENT_SOURCE_DIR}/${dir}/${child}/CMakeLists.txt")
      add_subdirectory("${dir}/${child}")
    endif()
  endforeach()
endfunction()

set(REMOTE_WARNINGS -Wall -Wextra -Wpedantic -Werror -Wno-missing-field-initializers)

if(REMOTE_SANITIZE)
  # Instrumentation defeats GCC's flow analysis: its uninitialised-use warnings then fire
  # inside the standard library. The release build keeps the warning.
  add_compile_options(-fsanitize=${REMOTE_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all
                      -Wno-maybe-uninitialized)
  add_link_options(-fsanitize=${REMOTE_SANITIZE})
endif()
if(REMOTE_FUZZ)
  # Undefined behaviour must stop the run like a crash, or the fuzzer never keeps the input.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()

# Applies our warning set to a target of ours (never to third-party code).
function(remote_target_defaults target)
  target_compile_options(${target} PRIVATE ${REMOTE_WARNINGS})
endfunction()

# remote_library(NAME SOURCES ... [DEPS ...])
# A library whose public headers live under include/ next to its CMakeLists.txt.
function(remote_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;PRIVATE_DEPS" ${ARGN})
  if(ARG_SOURCES)
    add_library(${name} STATIC ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC "${CMAKE_CURRENT_SOURCE_DIR}/include")
    target_link_libraries(${name} PUBLIC ${ARG_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
    remote_target_defaults(${name})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE "${CMAKE_CURRENT_SOURCE_DIR}/include")
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# remote_test(NAME SOURCES ... DEPS ... [LABELS ...] [TIMEOUT seconds])
# One GoogleTest program registered with CTest. Labels: unit, integration, gui, threads.
function(remote_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;DEPS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gtest_main)
  remote_target_defaults(${name})
  add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
  if(NOT ARG_LABELS)
    set(ARG_LABELS unit)
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}" TIMEOUT ${ARG_TIMEOUT}
    ENVIRONMENT "REMOTE_SOURCE_DIR=${PROJECT_SOURCE_DIR};REMOTE_BINARY_DIR=${PROJECT_BINARY_DIR};LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/scripts/lsan.supp:print_suppressions=0")
endfunction()

# remote_app_library(NAME SOURCES ... [DEPS ...])
# A library of the application under apps/remote/src/<subsystem>; its headers are
# included as "<subsystem>/<file>.h".
set(REMOTE_APP_SOURCE_DIR "${PROJECT_SOURCE_DIR}/apps/remote/src")
function(remote_app_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;PRIVATE_DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC "${REMOTE_APP_SOURCE_DIR}")
  target_link_libraries(${name} PUBLIC ${ARG_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
  remote_target_defaults(${name})
endfunction()

# remote_benchmark(NAME SOURCES ... DEPS ...)
# A Google Benchmark program, run by `make bench`. Name it bench_<area>.
function(remote_benchmark name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} benchmark::benchmark)
  remote_target_defaults(${name})
endfunction()

# remote_fuzzer(NAME SOURCES ... DEPS ... [CORPUS dir])
# A libFuzzer harness (clang, REMOTE_FUZZ=ON only), run by `make fuzz` over its corpus.
function(remote_fuzzer name)
  cmake_parse_arguments(ARG "" "CORPUS" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  remote_target_defaults(${name})
  if(ARG_CORPUS)
    file(GENERATE OUTPUT "${PROJECT_BINARY_DIR}/fuzzers-${name}.txt"
         CONTENT "$<TARGET_FILE:${name}> ${ARG_CORPUS}\n")
  endif()
endfunction()
