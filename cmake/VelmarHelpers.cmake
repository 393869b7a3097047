# One static library per subsystem folder, built from every .cpp in it.
# `DEPS` are the lower subsystems' libraries whose headers it includes: it
# links exactly those (and, through them, what they link). The same list
# says which folders its sources may include (cmake/check_layering.cmake).
function(velmar_subsystem name)
  cmake_parse_arguments(ARG "" "" "DEPS;LIBS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  list(FILTER srcs EXCLUDE REGEX ".*/main\\.cpp$")
  if(srcs)
    add_library(velmar_${name} STATIC ${srcs})
    set(scope PUBLIC)
  else()
    add_library(velmar_${name} INTERFACE)
    set(scope INTERFACE)
  endif()
  target_include_directories(velmar_${name} ${scope} ${PROJECT_SOURCE_DIR})
  target_link_libraries(velmar_${name} ${scope} ${ARG_DEPS} ${ARG_LIBS})
  velmar_declare_layer(${name} ${ARG_DEPS})
endfunction()

# One GoogleTest executable per test source file in the current folder,
# linking the folder's library and the shared test support (tests/support).
# A folder whose tests check whole layouts against rasterising oracles may
# ask for a longer limit than the 300 seconds (TIMEOUT n): the sanitizer
# build runs them many times slower.
function(velmar_gtests sub)
  cmake_parse_arguments(arg "" "TIMEOUT" "" ${ARGN})
  if(NOT arg_TIMEOUT)
    set(arg_TIMEOUT 300)
  endif()
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  file(GLOB helpers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_helpers.cpp)
  foreach(src IN LISTS srcs)
    get_filename_component(stem ${src} NAME_WE)
    set(exe ${sub}_${stem})
    add_executable(${exe} ${src} ${helpers})
    target_include_directories(${exe} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    target_link_libraries(${exe} PRIVATE velmar_${sub} velmar_test_support
                          GTest::gtest GTest::gtest_main)
    gtest_discover_tests(${exe} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT ${arg_TIMEOUT})
  endforeach()
  velmar_declare_layer(tests/${sub} ${sub} support)
endfunction()

# Records which folders the sources of folder `dir` (a path below the
# project root) may include, by the names their includes start with: the
# libraries the folder's target links, without the velmar_ prefix.
function(velmar_declare_layer dir)
  set(deps ${ARGN})
  list(TRANSFORM deps REPLACE "^velmar_" "")
  set_property(GLOBAL APPEND PROPERTY VELMAR_LAYERS ${dir})
  set_property(GLOBAL PROPERTY VELMAR_LAYER_DEPS_${dir} ${deps})
endfunction()

# Writes the declarations above into `file`, one folder a line:
# "DIR: NAME NAME ...". The layering check reads it, so that what a source
# file may include comes from the link declarations and nowhere else.
function(velmar_write_layers file)
  set(text "")
  get_property(layers GLOBAL PROPERTY VELMAR_LAYERS)
  foreach(dir IN LISTS layers)
    get_property(deps GLOBAL PROPERTY VELMAR_LAYER_DEPS_${dir})
    list(JOIN deps " " deps)
    string(APPEND text "${dir}: ${deps}\n")
  endforeach()
  file(WRITE ${file} "${text}")
endfunction()
