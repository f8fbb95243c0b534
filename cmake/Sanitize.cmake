# The sanitizer build (preset "sanitize", clang): every native library, test
# and tool is built with AddressSanitizer and UndefinedBehaviorSanitizer, and
# instrumented for libFuzzer so the fuzz targets of fuzz/ link against the
# same objects. Any report ends the process, so a test or fuzz run fails on it.
option(ORVEX_SANITIZE "Build with AddressSanitizer, UndefinedBehaviorSanitizer and libFuzzer coverage (clang)" OFF)
if(ORVEX_SANITIZE)
  if(ORVEX_WINDOWS OR NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "ORVEX_SANITIZE needs the native build with clang (preset \"sanitize\")")
  endif()
  add_compile_options(-fsanitize=address,undefined -fsanitize=fuzzer-no-link -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
