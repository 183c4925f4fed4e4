# VELDMOOR_SANITIZE: empty, "address,undefined" or "thread".
set(VELDMOOR_SANITIZE "" CACHE STRING "Sanitizers to build with (address,undefined | thread)")
if(VELDMOOR_SANITIZE)
  add_compile_options(-fsanitize=${VELDMOOR_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${VELDMOOR_SANITIZE})
endif()
