# Instrumented builds, each in a build folder of its own (scripts/test, scripts/fuzz):
#   OE_SANITIZE    everything, tests included, under AddressSanitizer + UndefinedBehaviorSanitizer (g++)
#   OE_BUILD_FUZZ  the libFuzzer targets in fuzz/, with the same sanitizers (clang++ only)
option(OE_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(OE_BUILD_FUZZ "Build the libFuzzer targets in fuzz/ (needs clang++)" OFF)

set(OE_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
# For the suite: -O1 keeps the instrumented code fast enough and compiles twice as fast as -O2 -g; -g1
# is enough for file and line in the reports. Coming after the build type's flags, these win. The few
# fuzz files take -O2: there every execution per second counts.
set(OE_SANITIZER_OPT -O1 -g1)

if(OE_BUILD_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "OE_BUILD_FUZZ needs clang++ (libFuzzer): configure with -DCMAKE_CXX_COMPILER=clang++")
  endif()
  # Coverage feedback for our libraries; only the fuzz targets link libFuzzer's main.
  add_compile_options(${OE_SANITIZER_FLAGS} -fsanitize=fuzzer-no-link -O2 -g1)
  add_link_options(-fsanitize=address,undefined)
elseif(OE_SANITIZE)
  # The library's own checks as well: a read through an empty std::optional aborts instead of passing.
  add_compile_options(${OE_SANITIZER_FLAGS} ${OE_SANITIZER_OPT})
  add_compile_definitions(_GLIBCXX_ASSERTIONS)
  add_link_options(-fsanitize=address,undefined)
endif()

# What every instrumented run needs: stop at the first report of either sanitizer (the compile flag
# already does for UBSan; this keeps hand-built code honest too), stack traces for UBSan, and the
# leak suppressions whose reasons are written beside them.
set(OE_SANITIZER_ENV
  "ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:strict_string_checks=1:check_initialization_order=1"
  "UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1"
  "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp:print_suppressions=0")
