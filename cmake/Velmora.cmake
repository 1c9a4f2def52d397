# One static library per source folder; its files are picked up by glob so that
# adding a file never means editing a shared list.
set(VELMORA_WARNINGS -Wall -Wextra)

function(velmora_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB _src CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h
       ${CMAKE_CURRENT_SOURCE_DIR}/*.qrc)
  list(FILTER _src INCLUDE REGEX "\\.(cpp|qrc)$")
  if(NOT _src)
    # A folder whose code has not been written yet.
    add_library(velmora_${name} INTERFACE)
    target_include_directories(velmora_${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(velmora_${name} INTERFACE ${ARG_DEPS})
    return()
  endif()
  file(GLOB _all CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp
       ${CMAKE_CURRENT_SOURCE_DIR}/*.h ${CMAKE_CURRENT_SOURCE_DIR}/*.qrc)
  add_library(velmora_${name} STATIC ${_all})
  target_include_directories(velmora_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_compile_options(velmora_${name} PRIVATE ${VELMORA_WARNINGS})
  target_link_libraries(velmora_${name} PUBLIC ${ARG_DEPS})
endfunction()

# One GoogleTest executable per test folder, every test registered with CTest.
function(velmora_test folder)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB _src CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/*.cpp
       ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/*.h)
  if(NOT _src)
    return()
  endif()
  add_executable(test_${folder} ${_src})
  target_compile_options(test_${folder} PRIVATE ${VELMORA_WARNINGS})
  target_link_libraries(test_${folder} PRIVATE velmora_testsupport ${ARG_DEPS})
  gtest_discover_tests(test_${folder}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;VELMORA_SOURCE_DIR=${PROJECT_SOURCE_DIR}"
               TIMEOUT 120)
endfunction()
