# veldmoor_library(NAME [PLATFORM_FOLDER SUB] DEPS ...): one static library made of every .cpp
# in the current folder and, when given, in its subfolder SUB (one implementation per operating
# system behind the folder's headers). Folders own their sources; globbing keeps parallel work
# from colliding in CMake files.
function(veldmoor_library name)
  cmake_parse_arguments(ARG "" "PLATFORM_FOLDER" "DEPS;EXCLUDE" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp")
  foreach(excluded ${ARG_EXCLUDE})
    list(REMOVE_ITEM sources "${CMAKE_CURRENT_SOURCE_DIR}/${excluded}")
  endforeach()
  if(ARG_PLATFORM_FOLDER)
    file(GLOB platform_sources CONFIGURE_DEPENDS
         "${CMAKE_CURRENT_SOURCE_DIR}/${ARG_PLATFORM_FOLDER}/*.cpp")
    list(APPEND sources ${platform_sources})
  endif()
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC "${PROJECT_SOURCE_DIR}")
    target_link_libraries(${name} PUBLIC ${ARG_DEPS} PRIVATE veldmoor_warnings)
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE "${PROJECT_SOURCE_DIR}")
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# veldmoor_test(NAME SOURCES... LIBS ... [LABELS ...]): one GoogleTest binary registered with CTest.
function(veldmoor_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  # The platform's build leaves these out (tests/CMakeLists.txt says which and why).
  list(REMOVE_ITEM ARG_SOURCES ${VELDMOOR_TEST_SOURCES_LEFT_OUT})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main veldmoor_warnings)
  set(props TIMEOUT 300)
  if(ARG_LABELS)
    list(APPEND props LABELS "${ARG_LABELS}")
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${props})
endfunction()
