# One static library per source folder; its files are picked up by glob so that
# adding a file never means editing a shared list.
set(VELMORA_WARNINGS -Wall -Wextra)

# Compiling Qt's and the test framework's headers once per kind of target, and
# each library's files in batches, halves a build from scratch. Turn either off
# to see that every file still brings its own includes.
option(VELMORA_PCH "Precompile the Qt and test framework headers" ON)
option(VELMORA_UNITY_BUILD "Compile each library's files in batches" ON)

# ccache caches a compile that uses a precompiled header only when told that
# the header's macros and time stamps are no concern of its own.
if(VELMORA_PCH AND CMAKE_CXX_COMPILER_LAUNCHER MATCHES "ccache" AND NOT CMAKE_CXX_COMPILER_LAUNCHER MATCHES "SLOPPINESS")
  set(CMAKE_CXX_COMPILER_LAUNCHER ${CMAKE_COMMAND} -E env CCACHE_SLOPPINESS=pch_defines,time_macros
      ${CMAKE_CXX_COMPILER_LAUNCHER})
endif()

# Gives target the precompiled header of its kind: logic and ui for the
# libraries, test_core, test_gui and test_widgets for the tests. Each kind's
# header is compiled once, by a target of its own that has only the macros all
# of the kind share: GCC uses a precompiled header only where every macro it
# was compiled with is defined alike, and no other macro it reads is defined.
function(velmora_precompile target kind)
  if(NOT VELMORA_PCH)
    return()
  endif()
  set(_host velmora_pch_${kind})
  if(NOT TARGET ${_host})
    if(kind MATCHES "^test_(.*)")
      set(_header ${PROJECT_SOURCE_DIR}/tests/support/TestPch.h)
      set(_libs velmora_testsupport)
      if(CMAKE_MATCH_1 STREQUAL "gui")
        list(APPEND _libs Qt6::Gui)
      elseif(CMAKE_MATCH_1 STREQUAL "widgets")
        list(APPEND _libs Qt6::Widgets)
      endif()
    else()
      set(_header ${PROJECT_SOURCE_DIR}/cmake/LibraryPch.h)
      if(kind STREQUAL "ui")
        set(_libs Qt6::Widgets)
      else()
        set(_libs Qt6::Core)
      endif()
    endif()
    file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/${_host}.cpp
         CONTENT "// Compiles the precompiled header only.\n")
    add_library(${_host} OBJECT ${CMAKE_CURRENT_BINARY_DIR}/${_host}.cpp)
    target_link_libraries(${_host} PRIVATE ${_libs})
    target_precompile_headers(${_host} PRIVATE ${_header})
  endif()
  target_precompile_headers(${target} REUSE_FROM ${_host})
endfunction()

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
  set_target_properties(velmora_${name} PROPERTIES UNITY_BUILD ${VELMORA_UNITY_BUILD})
  if(name MATCHES "_ui$" OR name STREQUAL "app")
    velmora_precompile(velmora_${name} ui)
  else()
    velmora_precompile(velmora_${name} logic)
  endif()
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
  if(NOT ARG_APP)
    set(ARG_APP core)
  endif()
  add_executable(test_${folder} ${_src})
  target_compile_options(test_${folder} PRIVATE ${VELMORA_WARNINGS})
  target_link_libraries(test_${folder} PRIVATE velmora_testmain_${ARG_APP} velmora_testsupport ${ARG_DEPS})
  velmora_precompile(test_${folder} test_${ARG_APP})
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
    # Every name inside a generator expression counts, however deeply nested
    # and whatever its condition: $<$<BOOL:ON>:Qt6::Widgets> reaches the
    # widgets as surely as Qt6::Widgets does.
    foreach(_l IN LISTS _links)
      string(REPLACE "::" "|" _l "${_l}")
      string(REGEX REPLACE "[$<>:,]" ";" _names "${_l}")
      foreach(_n IN LISTS _names)
        string(REPLACE "|" "::" _n "${_n}")
        if(_n AND NOT _n MATCHES "^::@")
          list(APPEND _todo ${_n})
        endif()
      endforeach()
    endforeach()
  endwhile()
  set(${out} FALSE PARENT_SCOPE)
endfunction()

# The file names a QtWidgets include may use: <QtWidgets/...> and every header
# of the module's folder (<QWidget>, <qmessagebox.h>, ...).
function(_velmora_widget_headers out)
  get_target_property(_dirs Qt6::Widgets INTERFACE_INCLUDE_DIRECTORIES)
  set(_names "")
  foreach(_d IN LISTS _dirs)
    if(_d MATCHES "/QtWidgets$" AND IS_DIRECTORY "${_d}")
      file(GLOB _files RELATIVE "${_d}" "${_d}/*")
      foreach(_f IN LISTS _files)
        if(NOT IS_DIRECTORY "${_d}/${_f}")
          list(APPEND _names ${_f})
        endif()
      endforeach()
    endif()
  endforeach()
  set(${out} ${_names} PARENT_SCOPE)
endfunction()

# Appends to out "file: <header>" for each QtWidgets include in the files.
function(_velmora_widget_includes files widget_headers out)
  set(_found ${${out}})
  foreach(_f IN LISTS files)
    if(NOT EXISTS "${_f}" OR NOT _f MATCHES "\\.(cpp|cxx|cc|h|hpp)$")
      continue()
    endif()
    file(STRINGS "${_f}" _lines REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
    foreach(_line IN LISTS _lines)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*[<\"]([^>\"]*)[>\"].*" "\\1" _h "${_line}")
      if(_h MATCHES "^QtWidgets(/|$)" OR _h IN_LIST widget_headers)
        file(RELATIVE_PATH _rel ${PROJECT_SOURCE_DIR} ${_f})
        list(APPEND _found "${_rel}: <${_h}>")
      endif()
    endforeach()
  endforeach()
  set(${out} ${_found} PARENT_SCOPE)
endfunction()

function(velmora_check_widget_free)
  _velmora_widget_headers(_widget_headers)
  set(_dirs ${PROJECT_SOURCE_DIR})
  set(_bad "")
  set(_includes "")
  while(_dirs)
    list(POP_FRONT _dirs _d)
    get_property(_subs DIRECTORY ${_d} PROPERTY SUBDIRECTORIES)
    list(APPEND _dirs ${_subs})
    # The tests' own mains and helpers are not the console's layers.
    file(RELATIVE_PATH _rel ${PROJECT_SOURCE_DIR} ${_d})
    if(_rel MATCHES "^(tests|bench|fuzz)(/|$)")
      continue()
    endif()
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
      # Every file of the library's folders, listed or not: a header that only
      # the others include counts as much.
      get_target_property(_srcs ${_t} SOURCES)
      set(_folders ${_d})
      foreach(_s IN LISTS _srcs)
        if(NOT _s MATCHES "[$<]")
          get_filename_component(_s "${_s}" ABSOLUTE BASE_DIR ${_d})
          get_filename_component(_s "${_s}" DIRECTORY)
          list(APPEND _folders ${_s})
        endif()
      endforeach()
      list(REMOVE_DUPLICATES _folders)
      foreach(_f IN LISTS _folders)
        file(GLOB _files ${_f}/*.cpp ${_f}/*.h)
        _velmora_widget_includes("${_files}" "${_widget_headers}" _includes)
      endforeach()
    endforeach()
  endwhile()
  if(_bad)
    list(JOIN _bad ", " _names)
    message(FATAL_ERROR "These libraries reach Qt6::Widgets but are not named *_ui: ${_names}. "
                        "Move their windows into a *_ui library beside them.")
  endif()
  if(_includes)
    list(REMOVE_DUPLICATES _includes)
    list(JOIN _includes "\n  " _list)
    message(FATAL_ERROR "These files of libraries not named *_ui include QtWidgets headers:\n  ${_list}\n"
                        "Move the code that needs a widget into a *_ui library beside them.")
  endif()
endfunction()
