# The build settings of the project built on its own: build type, warnings,
# and the checking builds. Not for a parent project that adds this one.
set(CMAKE_EXPORT_COMPILE_COMMANDS ON)
if(NOT CMAKE_BUILD_TYPE AND NOT CMAKE_CONFIGURATION_TYPES)
  set(CMAKE_BUILD_TYPE RelWithDebInfo CACHE STRING "Build type" FORCE)
endif()

add_compile_options(-Wall -Wextra)

# Checking builds. SEGSORTER_SANITIZE takes the compiler's -fsanitize list
# ("address,undefined", or "thread"); any finding stops the program.
set(SEGSORTER_SANITIZE "" CACHE STRING "Sanitizers to build everything with")
if(SEGSORTER_SANITIZE)
  # g++'s uninitialised-use analysis misfires on instrumented code (here, in
  # the standard library's regex); the sanitizers check the real thing.
  add_compile_options(-fsanitize=${SEGSORTER_SANITIZE} -fno-sanitize-recover=all
    -fno-omit-frame-pointer $<$<CXX_COMPILER_ID:GNU>:-Wno-maybe-uninitialized>)
  add_link_options(-fsanitize=${SEGSORTER_SANITIZE})
endif()
# The libFuzzer targets need clang; everything they reach is instrumented
# for coverage and checked by AddressSanitizer and UndefinedBehaviorSanitizer.
option(SEGSORTER_FUZZ "Build the fuzz targets (clang only)" OFF)
if(SEGSORTER_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined
    -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

