# Finds CPython 2.7 with its headers and defines the Python2:: targets.
#
# Order: Python2_EXECUTABLE or Python2_ROOT_DIR given by the user; the PYTHON2 environment
# variable (an interpreter); a python2.7 on PATH that actually runs (pyenv shims often do not);
# the newest 2.7 under pyenv ($PYENV_ROOT, `pyenv root`, ~/.pyenv); the system.

function(_ovattr_python_runs exe out)
  execute_process(COMMAND "${exe}" -c "import sys; sys.exit(0 if sys.version_info[:2] == (2, 7) else 1)"
                  RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
  if(rc EQUAL 0)
    set(${out} TRUE PARENT_SCOPE)
  else()
    set(${out} FALSE PARENT_SCOPE)
  endif()
endfunction()

if(NOT Python2_EXECUTABLE AND NOT Python2_ROOT_DIR)
  if(DEFINED ENV{PYTHON2} AND NOT "$ENV{PYTHON2}" STREQUAL "")
    set(Python2_EXECUTABLE "$ENV{PYTHON2}")
  endif()
endif()

if(NOT Python2_EXECUTABLE AND NOT Python2_ROOT_DIR)
  find_program(_ovattr_path_python2 NAMES python2.7 python2 NO_CACHE)
  if(_ovattr_path_python2)
    _ovattr_python_runs("${_ovattr_path_python2}" _ovattr_ok)
    if(_ovattr_ok)
      # Resolve a shim or wrapper to the interpreter it runs.
      execute_process(COMMAND "${_ovattr_path_python2}" -c "import sys; print(sys.executable)"
                      OUTPUT_VARIABLE _ovattr_real OUTPUT_STRIP_TRAILING_WHITESPACE)
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
  foreach(root IN LISTS _ovattr_pyenv_roots)
    file(GLOB _ovattr_candidates LIST_DIRECTORIES true "${root}/versions/2.7*")
    list(SORT _ovattr_candidates COMPARE NATURAL ORDER DESCENDING)
    foreach(dir IN LISTS _ovattr_candidates)
      if(EXISTS "${dir}/bin/python2.7" AND EXISTS "${dir}/include/python2.7/Python.h")
        set(Python2_ROOT_DIR "${dir}")
        break()
      endif()
    endforeach()
    if(Python2_ROOT_DIR)
      break()
    endif()
  endforeach()
endif()

set(Python2_FIND_STRATEGY LOCATION)
find_package(Python2 2.7 EXACT COMPONENTS Interpreter Development.Module Development.Embed)
if(NOT Python2_FOUND)
  message(FATAL_ERROR
    "CPython 2.7 with its headers was not found.\n"
    "Install it (for example `pyenv install 2.7.18`, or your system's python2.7 and "
    "python2.7-dev packages), or point the build at it with "
    "-DPython2_EXECUTABLE=/path/to/python2.7 or the PYTHON2 environment variable.")
endif()
message(STATUS "Python 2.7: ${Python2_EXECUTABLE}")
