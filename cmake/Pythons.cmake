# The interpreters the module is built for, one module each:
#   - CPython 2.7 where it is found (FindPython27.cmake; OVATTR_PYTHON2=OFF skips it): the folder
#     build/python, tests named python.*, the wrapper build/run-python;
#   - the system's python3, always: the first python3 on PATH that pyenv does not provide (its
#     shims and versions are the user's to name);
#   - every interpreter named in OVATTR_PYTHON3 (paths separated by ; or ,), CPython 3.8 or newer.
# Each Python 3.Y gets the folder build/python3.Y, tests named python3.Y.*, the wrapper
# build/run-python3.Y; build/run-python3 runs the system's.
#
# Defines OVATTR_PYTHONS, the list of versions ("2.7;3.11;3.8"), and for each version V:
#   OVATTR_PYTHON_<V>_EXECUTABLE   the interpreter
#   OVATTR_PYTHON_<V>_INCLUDE_DIR  its headers
#   OVATTR_PYTHON_<V>_DIR          the build folder of its module
#   OVATTR_PYTHON_<V>_NAME         "python" for 2.7, "python3.Y" otherwise: the tests' prefix
#   OVATTR_PYTHON_<V>_NUMPY        whether it imports numpy
# and OVATTR_SYSTEM_PYTHON3_VERSION, OVATTR_TOOL_PYTHON_VERSION (the interpreter of the tool's
# tests: 2.7 where it is built); Python3::Python (for embedding) is the system python3's.

set(OVATTR_PYTHONS "")

function(_ovattr_add_python version executable include_dir name)
  set(OVATTR_PYTHONS "${OVATTR_PYTHONS};${version}" PARENT_SCOPE)
  set(OVATTR_PYTHON_${version}_EXECUTABLE "${executable}" PARENT_SCOPE)
  set(OVATTR_PYTHON_${version}_INCLUDE_DIR "${include_dir}" PARENT_SCOPE)
  set(OVATTR_PYTHON_${version}_DIR "${CMAKE_BINARY_DIR}/${name}" PARENT_SCOPE)
  set(OVATTR_PYTHON_${version}_NAME "${name}" PARENT_SCOPE)
  execute_process(COMMAND "${executable}" -c "import numpy" RESULT_VARIABLE rc
                  OUTPUT_QUIET ERROR_QUIET)
  if(rc EQUAL 0)
    set(OVATTR_PYTHON_${version}_NUMPY ON PARENT_SCOPE)
  else()
    set(OVATTR_PYTHON_${version}_NUMPY OFF PARENT_SCOPE)
  endif()
  message(STATUS "Python ${version}: ${executable} (module in ${name}/)")
endfunction()

option(OVATTR_PYTHON2 "Build the module for CPython 2.7 too, when one is found" ON)
option(OVATTR_PYTHON2_REQUIRED "Fail when no CPython 2.7 is found" OFF)
if(OVATTR_PYTHON2)
  include(FindPython27)
  if(OVATTR_PYTHON2_FOUND)
    list(GET Python2_INCLUDE_DIRS 0 _ovattr_include)
    _ovattr_add_python(2.7 "${Python2_EXECUTABLE}" "${_ovattr_include}" python)
  endif()
endif()

# Sets `version`, `include` and `real` for a CPython 3.8 or newer with headers; else `why`.
function(_ovattr_query_python3 exe why version include real)
  execute_process(
    COMMAND "${exe}" -c "import sys, sysconfig; print('%d.%d' % sys.version_info[:2]); print(sysconfig.get_paths()['include']); print(sys.executable)"
    RESULT_VARIABLE rc OUTPUT_VARIABLE lines ERROR_VARIABLE error
    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_STRIP_TRAILING_WHITESPACE)
  set(${why} "" PARENT_SCOPE)
  if(NOT rc EQUAL 0)
    string(REGEX REPLACE "\n.*" "" error "${error}")
    set(${why} "it does not run (${rc}: ${error})" PARENT_SCOPE)
    return()
  endif()
  string(REPLACE "\n" ";" lines "${lines}")
  list(GET lines 0 v)
  list(GET lines 1 inc)
  list(GET lines 2 executable)
  if(v VERSION_LESS 3.8)
    set(${why} "this is Python ${v}; the module needs 2.7, or 3.8 or newer" PARENT_SCOPE)
  elseif(NOT EXISTS "${inc}/Python.h")
    set(${why} "this Python ${v} has no headers (no Python.h in ${inc}; on Debian: python3-dev)"
        PARENT_SCOPE)
  else()
    set(${version} "${v}" PARENT_SCOPE)
    set(${include} "${inc}" PARENT_SCOPE)
    set(${real} "${executable}" PARENT_SCOPE)
  endif()
endfunction()

set(OVATTR_PYTHON3 "" CACHE STRING
    "More Python 3 interpreters to build the module for (paths separated by ; or ,; 3.8 or newer)")

# The named ones first: an interpreter the user names is used or refused, never passed over.
string(REPLACE "," ";" _ovattr_named "${OVATTR_PYTHON3}")
foreach(exe IN LISTS _ovattr_named)
  _ovattr_query_python3("${exe}" why version include real)
  if(why)
    message(FATAL_ERROR "The Python given in OVATTR_PYTHON3, ${exe}, will not do: ${why}.")
  endif()
  if("${version}" IN_LIST OVATTR_PYTHONS)
    message(FATAL_ERROR "OVATTR_PYTHON3 names two interpreters of Python ${version}; the build "
                        "makes one module per version (folder python${version}).")
  endif()
  _ovattr_add_python(${version} "${real}" "${include}" python${version})
endforeach()

# The system's python3: PATH without pyenv's folders.
set(_ovattr_pyenv_roots "")
if(DEFINED ENV{PYENV_ROOT})
  list(APPEND _ovattr_pyenv_roots "$ENV{PYENV_ROOT}")
endif()
find_program(_ovattr_pyenv pyenv NO_CACHE)
if(_ovattr_pyenv)
  execute_process(COMMAND "${_ovattr_pyenv}" root OUTPUT_VARIABLE _ovattr_root
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  list(APPEND _ovattr_pyenv_roots "${_ovattr_root}")
endif()
if(DEFINED ENV{HOME})
  list(APPEND _ovattr_pyenv_roots "$ENV{HOME}/.pyenv")
endif()
set(_ovattr_system_python3 "")
string(REPLACE ":" ";" _ovattr_path "$ENV{PATH}")
foreach(dir IN LISTS _ovattr_path)
  set(_ovattr_skip OFF)
  foreach(root IN LISTS _ovattr_pyenv_roots)
    string(FIND "${dir}/" "${root}/" _ovattr_at)
    if(root AND _ovattr_at EQUAL 0)
      set(_ovattr_skip ON)
    endif()
  endforeach()
  if(NOT _ovattr_skip AND NOT dir MATCHES "/shims$" AND EXISTS "${dir}/python3"
     AND NOT IS_DIRECTORY "${dir}/python3")
    set(_ovattr_system_python3 "${dir}/python3")
    break()
  endif()
endforeach()
if(NOT _ovattr_system_python3)
  message(FATAL_ERROR "No python3 of the system's on PATH (pyenv's are passed over: name those "
                      "with -DOVATTR_PYTHON3=...). On Debian: apt-get install -y python3-dev "
                      "(`make deps` does).")
endif()
_ovattr_query_python3("${_ovattr_system_python3}" why version include real)
if(why)
  message(FATAL_ERROR "The system's python3, ${_ovattr_system_python3}, will not do: ${why}.")
endif()
set(OVATTR_SYSTEM_PYTHON3_VERSION "${version}")
if(NOT "${version}" IN_LIST OVATTR_PYTHONS)
  _ovattr_add_python(${version} "${real}" "${include}" python${version})
endif()
list(REMOVE_ITEM OVATTR_PYTHONS "")

# Embedding the system's python3 (the fuzz target's host): its own Python3:: targets.
set(Python3_EXECUTABLE "${OVATTR_PYTHON_${OVATTR_SYSTEM_PYTHON3_VERSION}_EXECUTABLE}")
find_package(Python3 ${OVATTR_SYSTEM_PYTHON3_VERSION} EXACT COMPONENTS Interpreter
             Development.Embed)

# The interpreter the build's own tooling runs (the tool's tests): 2.7 where it is built.
set(OVATTR_TOOL_PYTHON_VERSION ${OVATTR_SYSTEM_PYTHON3_VERSION})
if(OVATTR_PYTHON2_FOUND)
  set(OVATTR_TOOL_PYTHON_VERSION 2.7)
endif()
