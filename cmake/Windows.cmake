# What a Windows build needs beyond the shared build: the static libraries' own link needs, the
# Win32 headers' settings, and each program's resources (manifest, icon, version information).
if(NOT WIN32)
  function(veldmoor_windows_program)
  endfunction()
  return()
endif()

# Windows 10 and later; only the wide ("W") Win32 calls are used, and <windows.h> must not
# define min and max over std::min and std::max.
add_compile_definitions(_WIN32_WINNT=0x0A00 WINVER=0x0A00 UNICODE _UNICODE NOMINMAX)
# The prefix's header-only libraries (the XML parser, the HTTP server) have no package to find.
include_directories(SYSTEM "${VELDMOOR_WINDOWS_PREFIX}/include")

# The prefix's curl is a static library with Schannel (Windows' own TLS) and zlib; FindCURL knows
# neither.
set_property(TARGET CURL::libcurl APPEND PROPERTY INTERFACE_COMPILE_DEFINITIONS CURL_STATICLIB)
set_property(TARGET CURL::libcurl APPEND PROPERTY INTERFACE_LINK_LIBRARIES
             ZLIB::ZLIB ws2_32 crypt32 secur32 bcrypt advapi32)

enable_language(RC)
set(_veldmoor_icon "${PROJECT_BINARY_DIR}/windows/veldmoor.ico")
add_custom_command(
  OUTPUT "${_veldmoor_icon}"
  COMMAND /usr/bin/python3 "${PROJECT_SOURCE_DIR}/res/windows/make_icon.py" "${_veldmoor_icon}"
  DEPENDS "${PROJECT_SOURCE_DIR}/res/windows/make_icon.py" "${PROJECT_SOURCE_DIR}/res/png/131.png"
          "${PROJECT_SOURCE_DIR}/res/png/2x/131.png"
  COMMENT "Making the programs' icon")
add_custom_target(veldmoor_windows_icon DEPENDS "${_veldmoor_icon}")

# veldmoor_windows_program(TARGET DESCRIPTION): gives a program its resources.
function(veldmoor_windows_program target description)
  set(resources ${target}_resources)
  add_library(${resources} OBJECT "${PROJECT_SOURCE_DIR}/res/windows/program.rc")
  # The texts go in through a generated header: windres hands -D values to a shell unquoted.
  set(info_dir "${PROJECT_BINARY_DIR}/windows/${target}")
  file(GENERATE OUTPUT "${info_dir}/program_info.h" CONTENT
"#define VELDMOOR_FILE_NAME \"$<TARGET_FILE_NAME:${target}>\"
#define VELDMOOR_DESCRIPTION \"${description}\"
#define VELDMOOR_VERSION_MAJOR ${PROJECT_VERSION_MAJOR}
#define VELDMOOR_VERSION_MINOR ${PROJECT_VERSION_MINOR}
#define VELDMOOR_VERSION_PATCH 0
")
  target_include_directories(${resources} PRIVATE "${PROJECT_SOURCE_DIR}/res/windows"
                                                  "${PROJECT_BINARY_DIR}/windows" "${info_dir}")
  set_source_files_properties("${PROJECT_SOURCE_DIR}/res/windows/program.rc" PROPERTIES
    OBJECT_DEPENDS "${PROJECT_SOURCE_DIR}/res/windows/program.manifest;${_veldmoor_icon}")
  add_dependencies(${resources} veldmoor_windows_icon)
  target_sources(${target} PRIVATE $<TARGET_OBJECTS:${resources}>)
endfunction()
