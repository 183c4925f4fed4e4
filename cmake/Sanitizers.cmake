# VELDMOOR_SANITIZE: empty, "address,undefined" or "thread".
set(VELDMOOR_SANITIZE "" CACHE STRING "Sanitizers to build with (address,undefined | thread)")
if(VELDMOOR_SANITIZE)
  add_compile_options(-fsanitize=${VELDMOOR_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${VELDMOOR_SANITIZE})
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # GCC 12's flow analysis reports std::regex and std::function internals as "maybe
    # uninitialized" once sanitizer instrumentation is in; the plain build keeps the warning.
    add_compile_options(-Wno-maybe-uninitialized)
  endif()
endif()
