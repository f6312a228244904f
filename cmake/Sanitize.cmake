# Instrumented builds. CHANTEST_SANITIZE: the whole tree with AddressSanitizer and
# UndefinedBehaviorSanitizer; undefined behaviour aborts, so a test that meets it fails.
# CHANTEST_FUZZ (clang only): the same, with coverage instrumentation for libFuzzer, and the
# fuzz targets of fuzz/.
option(CHANTEST_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(CHANTEST_FUZZ "Build the libFuzzer targets (needs clang; implies the sanitizers)" OFF)

if(CHANTEST_SANITIZE OR CHANTEST_FUZZ)
  set(chantest_sanitizers -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_compile_options(${chantest_sanitizers})
  add_link_options(-fsanitize=address,undefined)
endif()

if(CHANTEST_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "CHANTEST_FUZZ needs clang (-DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang)")
  endif()
  # Every library gets the coverage hooks the fuzzer steers by; only the targets link its main.
  add_compile_options(-fsanitize=fuzzer-no-link)
  # Read after the rest of the tree, with all of its settings, beside the libraries it links.
  cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL include ${CMAKE_SOURCE_DIR}/fuzz/CMakeLists.txt)
endif()
