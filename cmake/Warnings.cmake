# The project's own code is built with its warnings on; third-party headers come in as system
# headers. CI turns warnings into errors (VELDMOOR_WERROR=ON); a player's or packager's build
# with another compiler or optimiser is not stopped by a warning that build alone raises.
option(VELDMOOR_WERROR "Treat warnings in the project's own code as errors" OFF)
add_library(veldmoor_warnings INTERFACE)
target_compile_options(veldmoor_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wno-missing-field-initializers $<$<BOOL:${VELDMOOR_WERROR}>:-Werror>)
# GCC 12 reports libstdc++'s own string concatenation and assignment, once inlined at -O3, as
# overlapping copies of "9223372036854775810 or more bytes" (GCC bugs 105329 and 105651, mended
# in GCC 13). Every `"text" + std::to_string(n)` in an optimised build would stop CI on it.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 12
   AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  target_compile_options(veldmoor_warnings INTERFACE -Wno-restrict)
endif()

# German texts are written as they read, in UTF-8, in the sources; the compilers are told so,
# rather than guessing from the build machine's locale.
target_compile_options(veldmoor_warnings INTERFACE
  $<$<CXX_COMPILER_ID:GNU,Clang>:-finput-charset=UTF-8> $<$<CXX_COMPILER_ID:MSVC>:/utf-8>)
