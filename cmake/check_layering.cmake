# Layering check: fails when a source file includes a header from a folder
# its library does not depend on.
#
#   cmake -DROOT=<source tree> -DLAYERS=<file> -P check_layering.cmake
#
# LAYERS is written by the configure step (velmar_write_layers) from the
# link declarations, one folder a line: "DIR: NAME NAME ...", DIR a path
# below ROOT, each NAME the first component of the includes the folder may
# use ("geometry" for "geometry/point_system.h"). A folder's includes are
# resolved below ROOT, and below ROOT/tests for folders under tests/.
#
# A file of DIR may include, by "NAME/...":
#  - a header of DIR itself, of a folder DIR names, or of anything those
#    folders depend on, followed through library folders (those not under
#    tests/);
#  - from a test folder, a helper of another test folder only when that folder
#    is named (tests/support); and that helper, with what it includes in turn,
#    may reach only folders the including file may include itself.
# Includes without a folder ("x.h") are the file's own neighbours. Includes
# naming a folder that is not a folder of ROOT (system headers) are ignored.
cmake_minimum_required(VERSION 3.20)
if(NOT ROOT OR NOT LAYERS)
  message(FATAL_ERROR "usage: cmake -DROOT=<tree> -DLAYERS=<file> -P check_layering.cmake")
endif()
if(NOT EXISTS ${LAYERS})
  message(FATAL_ERROR "layering: no dependency file ${LAYERS}")
endif()

# --- The declarations -----------------------------------------------------
file(STRINGS ${LAYERS} lines)
set(dirs "")
foreach(line IN LISTS lines)
  if(NOT line MATCHES "^([^:]+):(.*)$")
    message(FATAL_ERROR "layering: bad line in ${LAYERS}: ${line}")
  endif()
  set(dir ${CMAKE_MATCH_1})
  string(STRIP "${CMAKE_MATCH_2}" deps)
  separate_arguments(deps UNIX_COMMAND "${deps}")
  list(APPEND dirs ${dir})
  set(deps_${dir} ${deps})
endforeach()

# Name used in includes -> folder; a library folder wins over the test folder
# of the same name (tests/geometry's helpers are reached only from there).
foreach(pass lib test)
  foreach(dir IN LISTS dirs)
    get_filename_component(name ${dir} NAME)
    if(dir MATCHES "^tests/")
      if(pass STREQUAL "test" AND NOT DEFINED folder_${name})
        set(folder_${name} ${dir})
      endif()
    elseif(pass STREQUAL "lib")
      set(folder_${name} ${dir})
    endif()
  endforeach()
endforeach()

# Names a folder may include: its own, those it names, and the closure of
# those through library folders.
foreach(dir IN LISTS dirs)
  get_filename_component(own ${dir} NAME)
  set(allowed "")
  set(todo ${own} ${deps_${dir}})
  while(todo)
    list(POP_FRONT todo name)
    if(name IN_LIST allowed)
      continue()
    endif()
    list(APPEND allowed ${name})
    if(DEFINED folder_${name} AND NOT folder_${name} MATCHES "^tests/")
      list(APPEND todo ${deps_${folder_${name}}})
    endif()
  endwhile()
  set(allowed_${dir} ${allowed})
endforeach()

# --- Reading includes -----------------------------------------------------
# Sets `out` to the quoted includes of `file`, each as "LINE|PATH".
function(read_includes file out)
  file(STRINGS ${file} raw REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  # Line numbers: count every line once, only when a file has includes.
  set(result "")
  if(raw)
    file(STRINGS ${file} all)
    set(n 0)
    foreach(text IN LISTS all)
      math(EXPR n "${n} + 1")
      if(text MATCHES "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\"")
        list(APPEND result "${n}|${CMAKE_MATCH_1}")
      endif()
    endforeach()
  endif()
  set(${out} ${result} PARENT_SCOPE)
endfunction()

# Sets `out` to the library names the test helper `file` reaches through its
# includes and the test helpers they include in turn.
function(helper_reach file out)
  get_property(done GLOBAL PROPERTY reach_done_${file} SET)
  if(done)
    get_property(r GLOBAL PROPERTY reach_${file})
    set(${out} ${r} PARENT_SCOPE)
    return()
  endif()
  set_property(GLOBAL PROPERTY reach_${file} "")  # guards include cycles
  get_filename_component(here ${file} DIRECTORY)
  read_includes(${file} incs)
  set(r "")
  foreach(inc IN LISTS incs)
    string(REGEX REPLACE "^[0-9]+\\|" "" path "${inc}")
    if(NOT path MATCHES "/")
      if(EXISTS ${here}/${path})
        helper_reach(${here}/${path} sub)
        list(APPEND r ${sub})
      endif()
    elseif(EXISTS ${ROOT}/tests/${path})
      helper_reach(${ROOT}/tests/${path} sub)
      list(APPEND r ${sub})
    else()
      string(REGEX REPLACE "/.*" "" name "${path}")
      if(IS_DIRECTORY ${ROOT}/${name})
        list(APPEND r ${name})
      endif()
    endif()
  endforeach()
  list(REMOVE_DUPLICATES r)
  set_property(GLOBAL PROPERTY reach_${file} "${r}")
  set_property(GLOBAL PROPERTY reach_done_${file} TRUE)
  set(${out} ${r} PARENT_SCOPE)
endfunction()

# --- The check ------------------------------------------------------------
set(faults 0)
set(files_read 0)
foreach(dir IN LISTS dirs)
  if(NOT IS_DIRECTORY ${ROOT}/${dir})
    continue()
  endif()
  set(is_test FALSE)
  if(dir MATCHES "^tests/")
    set(is_test TRUE)
  endif()
  set(allowed ${allowed_${dir}})
  file(GLOB_RECURSE sources ${ROOT}/${dir}/*.cpp ${ROOT}/${dir}/*.cc ${ROOT}/${dir}/*.h ${ROOT}/${dir}/*.hpp)
  foreach(src IN LISTS sources)
    math(EXPR files_read "${files_read} + 1")
    file(RELATIVE_PATH rel ${ROOT} ${src})
    read_includes(${src} incs)
    foreach(inc IN LISTS incs)
      string(REGEX MATCH "^[0-9]+" line "${inc}")
      string(REGEX REPLACE "^[0-9]+\\|" "" path "${inc}")
      if(NOT path MATCHES "/")
        continue()
      endif()
      string(REGEX REPLACE "/.*" "" name "${path}")
      set(helper "")
      if(is_test AND EXISTS ${ROOT}/tests/${path})
        set(helper ${ROOT}/tests/${path})
        set(helper_dir tests/${name})
      elseif(NOT IS_DIRECTORY ${ROOT}/${name})
        continue()  # not a folder of this tree
      endif()
      if(NOT name IN_LIST allowed)
        message("${rel}:${line}: includes \"${path}\", but ${dir} does not depend on ${name}")
        math(EXPR faults "${faults} + 1")
        continue()
      endif()
      if(helper)
        if(NOT helper_dir STREQUAL dir AND NOT folder_${name} STREQUAL helper_dir)
          message("${rel}:${line}: includes \"${path}\", a helper of ${helper_dir}; helpers shared by test folders belong in a test folder that ${dir} names")
          math(EXPR faults "${faults} + 1")
          continue()
        endif()
        helper_reach(${helper} reach)
        foreach(r IN LISTS reach)
          if(NOT r IN_LIST allowed)
            message("${rel}:${line}: includes \"${path}\", which includes ${r}, but ${dir} does not depend on ${r}")
            math(EXPR faults "${faults} + 1")
          endif()
        endforeach()
      endif()
    endforeach()
  endforeach()
endforeach()

if(files_read EQUAL 0)
  message(FATAL_ERROR "layering: no source file found below ${ROOT}")
endif()
if(faults GREATER 0)
  message(FATAL_ERROR "layering: ${faults} include(s) against the declared dependencies (${files_read} files read)")
endif()
message("layering: ${files_read} files read, every include follows the declared dependencies")
