# One static library per source folder; its files are picked up by glob so that
# adding a file never means editing a shared list.
set(VELMORA_WARNINGS -Wall -Wextra)

function(velmora_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  # Headers are included as "<folder>/File.h". Each library's include
  # directory holds only a link to its own folder, so a library sees the
  # headers of what it links and nothing else.
  file(RELATIVE_PATH _rel ${PROJECT_SOURCE_DIR}/src ${CMAKE_CURRENT_SOURCE_DIR})
  set(_inc ${PROJECT_BINARY_DIR}/include/${name})
  get_filename_component(_parent ${_inc}/${_rel} DIRECTORY)
  file(MAKE_DIRECTORY ${_parent})
  file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${_inc}/${_rel} SYMBOLIC)
  file(GLOB _src CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h
       ${CMAKE_CURRENT_SOURCE_DIR}/*.qrc)
  list(FILTER _src INCLUDE REGEX "\\.(cpp|qrc)$")
  if(NOT _src)
    # A folder whose code has not been written yet.
    add_library(velmora_${name} INTERFACE)
    target_include_directories(velmora_${name} INTERFACE ${_inc})
    target_link_libraries(velmora_${name} INTERFACE ${ARG_DEPS})
    return()
  endif()
  file(GLOB _all CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp
       ${CMAKE_CURRENT_SOURCE_DIR}/*.h ${CMAKE_CURRENT_SOURCE_DIR}/*.qrc)
  add_library(velmora_${name} STATIC ${_all})
  target_include_directories(velmora_${name} PUBLIC ${_inc})
  target_compile_options(velmora_${name} PRIVATE ${VELMORA_WARNINGS})
  target_link_libraries(velmora_${name} PUBLIC ${ARG_DEPS})
endfunction()

# One GoogleTest executable per test folder, every test registered with CTest.
# APP names the application its main builds: core (the default), gui for
# documents, widgets for windows.
function(velmora_test folder)
  cmake_parse_arguments(ARG "" "APP" "DEPS" ${ARGN})
  file(GLOB _src CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/*.cpp
       ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/*.h)
  if(NOT _src)
    return()
  endif()
  add_executable(test_${folder} ${_src} ${PROJECT_SOURCE_DIR}/tests/support/TestMain.cpp)
  target_compile_options(test_${folder} PRIVATE ${VELMORA_WARNINGS})
  target_link_libraries(test_${folder} PRIVATE velmora_testsupport ${ARG_DEPS})
  if(ARG_APP STREQUAL "widgets")
    target_compile_definitions(test_${folder} PRIVATE VELMORA_TEST_APP=2)
    target_link_libraries(test_${folder} PRIVATE Qt6::Widgets)
  elseif(ARG_APP STREQUAL "gui")
    target_compile_definitions(test_${folder} PRIVATE VELMORA_TEST_APP=1)
    target_link_libraries(test_${folder} PRIVATE Qt6::Gui)
  else()
    target_compile_definitions(test_${folder} PRIVATE VELMORA_TEST_APP=0)
  endif()
  gtest_discover_tests(test_${folder}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;VELMORA_SOURCE_DIR=${PROJECT_SOURCE_DIR}"
               TIMEOUT 120)
endfunction()

# Windows stay in the libraries named *_ui and in the app: everything else must
# build and run without a widget. Fails the configure step when a library
# reaches Qt6::Widgets, directly or through what it links.
function(_velmora_reaches_widgets target out)
  set(_seen "")
  set(_todo ${target})
  while(_todo)
    list(POP_FRONT _todo _t)
    if(_t IN_LIST _seen OR NOT TARGET ${_t})
      continue()
    endif()
    list(APPEND _seen ${_t})
    get_target_property(_real ${_t} ALIASED_TARGET)
    if(_real)
      set(_t ${_real})
    endif()
    if(_t STREQUAL "Qt6::Widgets" OR _t STREQUAL "Qt::Widgets")
      set(${out} TRUE PARENT_SCOPE)
      return()
    endif()
    set(_links "")
    foreach(_prop LINK_LIBRARIES INTERFACE_LINK_LIBRARIES)
      get_target_property(_l ${_t} ${_prop})
      if(_l)
        list(APPEND _links ${_l})
      endif()
    endforeach()
    foreach(_l IN LISTS _links)
      # $<TARGET_NAME_IF_EXISTS:x>, $<LINK_ONLY:x> and the like name x.
      string(REGEX REPLACE "^\\$<[A-Z_]+:(.*)>$" "\\1" _l "${_l}")
      if(NOT _l MATCHES "[$<>]")
        list(APPEND _todo ${_l})
      endif()
    endforeach()
  endwhile()
  set(${out} FALSE PARENT_SCOPE)
endfunction()

function(velmora_check_widget_free)
  set(_dirs ${PROJECT_SOURCE_DIR})
  set(_bad "")
  while(_dirs)
    list(POP_FRONT _dirs _d)
    get_property(_subs DIRECTORY ${_d} PROPERTY SUBDIRECTORIES)
    list(APPEND _dirs ${_subs})
    get_property(_targets DIRECTORY ${_d} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(_t IN LISTS _targets)
      get_target_property(_type ${_t} TYPE)
      if(NOT _type MATCHES "LIBRARY$" OR _t MATCHES "_ui$" OR _t STREQUAL "velmora_app")
        continue()
      endif()
      _velmora_reaches_widgets(${_t} _reaches)
      if(_reaches)
        list(APPEND _bad ${_t})
      endif()
    endforeach()
  endwhile()
  if(_bad)
    list(JOIN _bad ", " _names)
    message(FATAL_ERROR "These libraries reach Qt6::Widgets but are not named *_ui: ${_names}. "
                        "Move their windows into a *_ui library beside them.")
  endif()
endfunction()
