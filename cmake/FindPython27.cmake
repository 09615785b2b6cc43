# Finds CPython 2.7 with its headers and defines the Python2:: targets; sets OVATTR_PYTHON2_FOUND.
#
# Order: Python2_EXECUTABLE or Python2_ROOT_DIR given by the user; the PYTHON2 environment
# variable (an interpreter); a python2.7 on PATH that actually runs (pyenv shims often do not);
# the newest 2.7 under pyenv ($PYENV_ROOT, `pyenv root`, ~/.pyenv); the system. An interpreter
# the user named is checked and, when it will not do, refused at once with the reason; when
# nothing is found, the message lists what was tried and what would work on this machine, and
# the build goes on without 2.7 (OVATTR_PYTHON2_REQUIRED makes that an error).

# Sets `out` to why `exe` is not a CPython 2.7 with headers, or to "" when it is (and then
# `real` to the interpreter it runs, past any shim or wrapper).
function(_ovattr_python_refusal exe out real)
  execute_process(
    COMMAND "${exe}" -c "import sys, sysconfig; print('%d.%d' % sys.version_info[:2]); print(sysconfig.get_paths()['include']); print(sys.executable)"
    RESULT_VARIABLE rc OUTPUT_VARIABLE lines ERROR_VARIABLE error
    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_STRIP_TRAILING_WHITESPACE)
  if(NOT rc EQUAL 0)
    string(REGEX REPLACE "\n.*" "" error "${error}")
    if(rc MATCHES "^[0-9]+$")
      set(rc "exit status ${rc}: ${error}")
    endif()
    set(${out} "it does not run (${rc})" PARENT_SCOPE)
    return()
  endif()
  string(REPLACE "\n" ";" lines "${lines}")
  list(GET lines 0 version)
  list(GET lines 1 include)
  list(GET lines 2 executable)
  if(NOT version STREQUAL "2.7")
    set(${out} "this is Python ${version}, and the module is built for 2.7" PARENT_SCOPE)
  elseif(NOT EXISTS "${include}/Python.h")
    set(${out} "this Python 2.7 has no headers (no Python.h in ${include})" PARENT_SCOPE)
  else()
    set(${out} "" PARENT_SCOPE)
    set(${real} "${executable}" PARENT_SCOPE)
  endif()
endfunction()

# What would give this machine a CPython 2.7, as lines of text.
function(_ovattr_python_remedies out)
  set(text "")
  find_program(pyenv pyenv NO_CACHE)
  if(pyenv)
    string(APPEND text "  - pyenv is installed (${pyenv}): `pyenv install 2.7.18` builds CPython 2.7 "
           "with its headers, and the next configure finds it.\n")
  else()
    string(APPEND text "  - pyenv can build CPython 2.7 with its headers (`pyenv install 2.7.18`).\n")
  endif()
  find_program(apt_cache apt-cache NO_CACHE)
  if(apt_cache)
    set(system "this system")
    if(EXISTS /etc/os-release)
      file(STRINGS /etc/os-release name REGEX "^PRETTY_NAME=")
      string(REGEX REPLACE "^PRETTY_NAME=\"?([^\"]*)\"?$" "\\1" system "${name}")
    endif()
    execute_process(COMMAND "${apt_cache}" policy python2.7-dev OUTPUT_VARIABLE policy
                    ERROR_QUIET)
    if(policy MATCHES "Candidate: ([^ \n(][^\n]*)")
      string(APPEND text "  - ${system} offers python2.7-dev ${CMAKE_MATCH_1}: "
             "`apt-get install -y python2.7 python2.7-dev`.\n")
    else()
      string(APPEND text "  - ${system} has no python2.7 package (Debian 12 and later ship none): "
             "use pyenv, or a CPython 2.7 built from source.\n")
    endif()
  endif()
  string(APPEND text "  - Or name an interpreter: -DPython2_EXECUTABLE=/path/to/python2.7 or "
         "PYTHON2=/path/to/python2.7.")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

set(_ovattr_tried "")

# An interpreter the user named: it is used or refused, never passed over.
set(_ovattr_named "")
if(Python2_EXECUTABLE)
  set(_ovattr_named "-DPython2_EXECUTABLE=${Python2_EXECUTABLE}")
elseif(NOT Python2_ROOT_DIR AND DEFINED ENV{PYTHON2} AND NOT "$ENV{PYTHON2}" STREQUAL "")
  set(_ovattr_named "PYTHON2=$ENV{PYTHON2}")
  set(Python2_EXECUTABLE "$ENV{PYTHON2}")
endif()
if(_ovattr_named)
  _ovattr_python_refusal("${Python2_EXECUTABLE}" _ovattr_why _ovattr_real)
  if(_ovattr_why)
    _ovattr_python_remedies(_ovattr_remedies)
    message(FATAL_ERROR "The Python given, ${_ovattr_named}, will not do: ${_ovattr_why}.\n"
                        "The module needs CPython 2.7 with its headers. What works here:\n"
                        "${_ovattr_remedies}")
  endif()
endif()

if(NOT Python2_EXECUTABLE AND NOT Python2_ROOT_DIR)
  find_program(_ovattr_path_python2 NAMES python2.7 python2 NO_CACHE)
  if(_ovattr_path_python2)
    _ovattr_python_refusal("${_ovattr_path_python2}" _ovattr_why _ovattr_real)
    if(_ovattr_why)
      list(APPEND _ovattr_tried "${_ovattr_path_python2} on PATH: ${_ovattr_why}")
    else()
      set(Python2_EXECUTABLE "${_ovattr_real}")
    endif()
  endif()
endif()

if(NOT Python2_EXECUTABLE AND NOT Python2_ROOT_DIR)
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
  list(REMOVE_DUPLICATES _ovattr_pyenv_roots)
  foreach(root IN LISTS _ovattr_pyenv_roots)
    if(NOT IS_DIRECTORY "${root}/versions")
      continue()
    endif()
    file(GLOB _ovattr_candidates LIST_DIRECTORIES true "${root}/versions/2.7*")
    list(SORT _ovattr_candidates COMPARE NATURAL ORDER DESCENDING)
    foreach(dir IN LISTS _ovattr_candidates)
      if(EXISTS "${dir}/bin/python2.7" AND EXISTS "${dir}/include/python2.7/Python.h")
        set(Python2_ROOT_DIR "${dir}")
        break()
      endif()
      list(APPEND _ovattr_tried "${dir}: no bin/python2.7 with include/python2.7/Python.h")
    endforeach()
    if(Python2_ROOT_DIR)
      break()
    endif()
    file(GLOB _ovattr_versions RELATIVE "${root}/versions" "${root}/versions/*")
    list(JOIN _ovattr_versions ", " _ovattr_versions)
    list(APPEND _ovattr_tried "pyenv at ${root}: no usable 2.7 (it has: ${_ovattr_versions})")
  endforeach()
endif()

set(Python2_FIND_STRATEGY LOCATION)
find_package(Python2 2.7 EXACT COMPONENTS Interpreter Development.Module Development.Embed)
set(OVATTR_PYTHON2_FOUND "${Python2_FOUND}")
if(NOT Python2_FOUND)
  list(APPEND _ovattr_tried "CMake's FindPython2 on this system: no CPython 2.7 with headers")
  list(JOIN _ovattr_tried "\n  - " _ovattr_tried)
  _ovattr_python_remedies(_ovattr_remedies)
  set(_ovattr_text "CPython 2.7 with its headers was not found. Tried:\n"
                   "  - ${_ovattr_tried}\nWhat works here:\n${_ovattr_remedies}")
  if(OVATTR_PYTHON2_REQUIRED)
    message(FATAL_ERROR ${_ovattr_text})
  endif()
  message(STATUS ${_ovattr_text} "\nThe module is built for Python 3 only.")
  return()
endif()
message(STATUS "Python 2.7: ${Python2_EXECUTABLE}")
