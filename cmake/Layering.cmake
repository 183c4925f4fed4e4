# The layering check: every .h and .cpp of the libraries' folders may include only the headers
# tools/layering/allowed_includes.txt allows its folder (project, third-party and platform
# headers alike), whatever form the include takes. It runs as a step of every build that
# compiles for the machine it runs on: each library waits for it, and it runs again whenever a
# source or the rules change. A cross build (Windows) compiles the same sources its host build
# has checked. tests/layering shows it refusing each way round it.

set(VELDMOOR_LAYERED_FOLDERS system profiles sync patch app ui tools)

function(veldmoor_check_layering)
  if(CMAKE_CROSSCOMPILING)
    return()
  endif()
  set(rules "${PROJECT_SOURCE_DIR}/tools/layering/allowed_includes.txt")
  set(patterns "")
  foreach(folder ${VELDMOOR_LAYERED_FOLDERS})
    list(APPEND patterns "${PROJECT_SOURCE_DIR}/${folder}/*.h" "${PROJECT_SOURCE_DIR}/${folder}/*.cpp")
  endforeach()
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${patterns})
  set(stamp "${CMAKE_BINARY_DIR}/layering.stamp")
  add_custom_command(
    OUTPUT "${stamp}"
    COMMAND veldmoor-layering-check "${rules}" "${PROJECT_SOURCE_DIR}" "${stamp}"
            ${VELDMOOR_LAYERED_FOLDERS}
    DEPENDS veldmoor-layering-check "${rules}" ${sources}
    COMMENT "Checking the layering (tools/layering/allowed_includes.txt)"
    VERBATIM)
  add_custom_target(veldmoor_layering_check ALL DEPENDS "${stamp}")
  foreach(target ${ARGN})
    if(TARGET ${target})
      add_dependencies(${target} veldmoor_layering_check)
    endif()
  endforeach()
endfunction()
