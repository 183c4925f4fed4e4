# An optimised Linux build (what the Debian package ships) gets the hardening Debian gives its
# own packages: checked string and memory functions, and relocations resolved and made
# read-only at start-up. Sanitizer and fuzzing builds bring their own checks instead.
if(NOT WIN32 AND NOT VELDMOOR_SANITIZE AND NOT VELDMOOR_FUZZ)
  add_compile_options($<$<CONFIG:Release,RelWithDebInfo>:-D_FORTIFY_SOURCE=2>)
  add_link_options(LINKER:-z,relro LINKER:-z,now)
endif()
