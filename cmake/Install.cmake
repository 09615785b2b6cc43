# What `cmake --install build --prefix P` puts where (paths below P; lib is CMAKE_INSTALL_LIBDIR):
#
#   lib/libOvTessarkSDK.so*                    the library
#   include/Tessark/, include/PyOvAttribute/   the public headers (not the test-only Testing.h)
#   lib/pythonX.Y/site-packages/               the module PyOvAttribute.so for Python X.Y, which
#                                              finds the library through an $ORIGIN rpath, and
#                                              the pure-Python package OvAttribute beside it
#                                              (Python 3: the stub PyOvAttribute.pyi, py.typed)
#   bin/ovattr, share/man/man1/ovattr.1        the tool and its manual page
#   lib/cmake/OvTessarkSDK/                    the CMake package: Tessark::OvTessarkSDK, and
#                                              Tessark::PyOvAttribute-pythonX.Y per interpreter
#   lib/pkgconfig/OvTessarkSDK.pc              the library for pkg-config
#
# Every path inside the prefix is relative, so a prefix can be moved or copied as a whole.

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(OVATTR_CMAKE_INSTALL_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/OvTessarkSDK")

# The rpath from one folder of the prefix to another: $ORIGIN-relative, unless `to` is absolute.
function(ovattr_relative_rpath out from to)
  if(IS_ABSOLUTE "${to}")
    set(${out} "${to}" PARENT_SCOPE)
  else()
    file(RELATIVE_PATH rel "/prefix/${from}" "/prefix/${to}")
    string(REGEX REPLACE "/$" "" rel "${rel}")
    set(${out} "$ORIGIN/${rel}" PARENT_SCOPE)
  endif()
endfunction()

# The library and its headers.
install(TARGETS OvTessarkSDK EXPORT OvTessarkSDKTargets
        LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}")
install(DIRECTORY "${PROJECT_SOURCE_DIR}/library/include/" DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}"
        PATTERN "Testing.h" EXCLUDE)

# The module for each interpreter, with the pure-Python package (and for Python 3 the stub)
# beside it, and its file of the CMake package.
foreach(OVATTR_PY_VERSION IN LISTS OVATTR_PYTHONS)
  set(OVATTR_PYTHON_INSTALL_DIR "${CMAKE_INSTALL_LIBDIR}/python${OVATTR_PY_VERSION}/site-packages")
  if(NOT OVATTR_SELF_CONTAINED_MODULE)
    ovattr_relative_rpath(_module_rpath "${OVATTR_PYTHON_INSTALL_DIR}" "${CMAKE_INSTALL_LIBDIR}")
    set_target_properties(PyOvAttribute-python${OVATTR_PY_VERSION} PROPERTIES
                          INSTALL_RPATH "${_module_rpath}")
  endif()
  install(TARGETS PyOvAttribute-python${OVATTR_PY_VERSION}
          LIBRARY DESTINATION "${OVATTR_PYTHON_INSTALL_DIR}")
  install(DIRECTORY "${PROJECT_SOURCE_DIR}/module/OvAttribute"
          DESTINATION "${OVATTR_PYTHON_INSTALL_DIR}" FILES_MATCHING PATTERN "*.py")
  if(NOT OVATTR_PY_VERSION VERSION_LESS 3)
    install(FILES "${PROJECT_SOURCE_DIR}/module/PyOvAttribute.pyi"
                  "${PROJECT_SOURCE_DIR}/module/py.typed"
            DESTINATION "${OVATTR_PYTHON_INSTALL_DIR}")
  endif()
  configure_package_config_file("${PROJECT_SOURCE_DIR}/cmake/OvTessarkSDKPython.cmake.in"
    "${CMAKE_BINARY_DIR}/package/OvTessarkSDKPython${OVATTR_PY_VERSION}.cmake"
    INSTALL_DESTINATION "${OVATTR_CMAKE_INSTALL_DIR}"
    PATH_VARS OVATTR_PYTHON_INSTALL_DIR CMAKE_INSTALL_INCLUDEDIR)
  install(FILES "${CMAKE_BINARY_DIR}/package/OvTessarkSDKPython${OVATTR_PY_VERSION}.cmake"
          DESTINATION "${OVATTR_CMAKE_INSTALL_DIR}")
endforeach()

if(TARGET ovattr)
  ovattr_relative_rpath(_tool_rpath "${CMAKE_INSTALL_BINDIR}" "${CMAKE_INSTALL_LIBDIR}")
  set_target_properties(ovattr PROPERTIES INSTALL_RPATH "${_tool_rpath}")
  install(TARGETS ovattr RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
  install(FILES "${PROJECT_SOURCE_DIR}/docs/ovattr.1" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
endif()

# The CMake package: the library's exported target, one file per interpreter's module (above;
# found by the package's config file whatever Python it was built for), the version file.
install(EXPORT OvTessarkSDKTargets NAMESPACE Tessark:: DESTINATION "${OVATTR_CMAKE_INSTALL_DIR}")
configure_package_config_file("${PROJECT_SOURCE_DIR}/cmake/OvTessarkSDKConfig.cmake.in"
  "${CMAKE_BINARY_DIR}/package/OvTessarkSDKConfig.cmake"
  INSTALL_DESTINATION "${OVATTR_CMAKE_INSTALL_DIR}")
write_basic_package_version_file("${CMAKE_BINARY_DIR}/package/OvTessarkSDKConfigVersion.cmake"
  COMPATIBILITY SameMajorVersion)
install(FILES "${CMAKE_BINARY_DIR}/package/OvTessarkSDKConfig.cmake"
              "${CMAKE_BINARY_DIR}/package/OvTessarkSDKConfigVersion.cmake"
        DESTINATION "${OVATTR_CMAKE_INSTALL_DIR}")

# pkg-config: the prefix is found from the .pc file's own folder.
set(_pc_dir "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
file(RELATIVE_PATH OVATTR_PC_PREFIX "/prefix/${_pc_dir}" "/prefix")
string(REGEX REPLACE "/$" "" OVATTR_PC_PREFIX "${OVATTR_PC_PREFIX}")
foreach(_dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${_dir}}")
    set(OVATTR_PC_${_dir} "${CMAKE_INSTALL_${_dir}}")
  else()
    set(OVATTR_PC_${_dir} "\${prefix}/${CMAKE_INSTALL_${_dir}}")
  endif()
endforeach()
configure_file("${PROJECT_SOURCE_DIR}/cmake/OvTessarkSDK.pc.in"
               "${CMAKE_BINARY_DIR}/package/OvTessarkSDK.pc" @ONLY)
install(FILES "${CMAKE_BINARY_DIR}/package/OvTessarkSDK.pc" DESTINATION "${_pc_dir}")
