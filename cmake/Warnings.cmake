# Warnings are errors for the project's own code; third-party headers come in as system headers.
add_library(veldmoor_warnings INTERFACE)
target_compile_options(veldmoor_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Werror -Wno-missing-field-initializers)
