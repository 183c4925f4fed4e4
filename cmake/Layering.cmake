# Checks at configure time that the code keeps the layering its link lines state: a file may
# include project headers only from its own folder and from the folders of the libraries its
# target links (directly or through them), and nothing outside system/ includes a platform
# header. Without it every library exports the project root, and the layering would be a
# convention only. The link lines stay the one statement of who may use whom.

set(VELDMOOR_PLATFORM_HEADER_REGEX
    "#include <(unistd|dirent|fcntl|pwd|grp|signal|spawn|poll|termios|dlfcn|pthread|windows|winbase|shlobj|shellapi|aclapi|tlhelp32|io|direct)\\.h>|#include <sys/")

# The folder, relative to the project root, that holds a target's sources.
function(_veldmoor_target_folder target out)
  get_target_property(sources ${target} SOURCES)
  get_target_property(source_dir ${target} SOURCE_DIR)
  list(GET sources 0 first)
  if(NOT IS_ABSOLUTE "${first}")
    set(first "${source_dir}/${first}")
  endif()
  get_filename_component(folder "${first}" DIRECTORY)
  file(RELATIVE_PATH folder "${PROJECT_SOURCE_DIR}" "${folder}")
  # An operating system's own implementation folder belongs to the folder of its headers.
  string(REGEX REPLACE "/(posix|win32)$" "" folder "${folder}")
  set(${out} "${folder}" PARENT_SCOPE)
endfunction()

# Every project library a target links, directly or through another.
function(_veldmoor_link_closure target project_targets out)
  set(pending ${target})
  set(seen "")
  while(pending)
    list(POP_FRONT pending current)
    foreach(property LINK_LIBRARIES INTERFACE_LINK_LIBRARIES)
      get_target_property(links ${current} ${property})
      if(NOT links)
        continue()
      endif()
      foreach(link ${links})
        if(link IN_LIST project_targets AND NOT link IN_LIST seen)
          list(APPEND seen ${link})
          list(APPEND pending ${link})
        endif()
      endforeach()
    endforeach()
  endwhile()
  set(${out} "${seen}" PARENT_SCOPE)
endfunction()

function(veldmoor_check_layering)
  set(project_targets "")
  foreach(target ${ARGN})
    if(TARGET ${target})
      get_target_property(type ${target} TYPE)
      if(NOT type STREQUAL "INTERFACE_LIBRARY")
        list(APPEND project_targets ${target})
      endif()
    endif()
  endforeach()

  set(problems "")
  foreach(target ${project_targets})
    _veldmoor_target_folder(${target} folder)
    _veldmoor_link_closure(${target} "${project_targets}" closure)
    # The target's own folder with its operating systems' implementation folders, whose
    # private headers no other library may include.
    set(allowed "${folder}" "${folder}/posix" "${folder}/win32")
    foreach(dependency ${closure})
      _veldmoor_target_folder(${dependency} dependency_folder)
      list(APPEND allowed "${dependency_folder}")
    endforeach()

    # The target's own sources (a folder may hold sources of another build, such as the
    # Launcher's window and no-window entries) and the headers beside them.
    get_target_property(sources ${target} SOURCES)
    get_target_property(source_dir ${target} SOURCE_DIR)
    set(files "")
    foreach(source ${sources})
      if(NOT IS_ABSOLUTE "${source}")
        set(source "${source_dir}/${source}")
      endif()
      list(APPEND files "${source}")
      get_filename_component(source_folder "${source}" DIRECTORY)
      file(GLOB headers "${source_folder}/*.h")
      list(APPEND files ${headers})
    endforeach()
    list(REMOVE_DUPLICATES files)
    foreach(file ${files})
      file(RELATIVE_PATH shown "${PROJECT_SOURCE_DIR}" "${file}")
      file(STRINGS "${file}" includes REGEX "^#include ")
      foreach(line ${includes})
        if(NOT folder MATCHES "^system(/|$)" AND line MATCHES "${VELDMOOR_PLATFORM_HEADER_REGEX}")
          list(APPEND problems "${shown}: platform header above system/: ${line}")
        endif()
        if(line MATCHES "^#include \"(.+)/[^/]+\"")
          if(NOT CMAKE_MATCH_1 IN_LIST allowed)
            list(APPEND problems
                 "${shown}: ${line} (${target} links no library of ${CMAKE_MATCH_1}/)")
          endif()
        endif()
      endforeach()
    endforeach()
  endforeach()

  if(problems)
    list(JOIN problems "\n  " text)
    message(FATAL_ERROR "Layering broken:\n  ${text}\n"
                        "Move the platform call behind a system/ function, or include only "
                        "what the target's link line allows.")
  endif()
endfunction()
