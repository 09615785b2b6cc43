# cmake -DBUILD_DIR= -DSOURCE_DIR= -DWORK_DIR= -DGENERATOR= -DCXX= -DPYTHONS= -DENV= -P this
# Installs BUILD_DIR into a fresh prefix and uses it as a stranger would: examples/consumer
# built with find_package(OvTessarkSDK CONFIG) for each interpreter of PYTHONS (comma-separated
# version=executable pairs) and check_consumer.py run on the installed module, package and
# tool; the library's example built with pkg-config's flags.
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}")
  endif()
endfunction()

file(REMOVE_RECURSE "${WORK_DIR}")
set(prefix "${WORK_DIR}/prefix")
run("${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${prefix}")
if(EXISTS "${prefix}/include/Tessark/OvAttribute/Testing.h")
  message(FATAL_ERROR "the test-only header Testing.h was installed")
endif()
set(ENV{PKG_CONFIG_PATH} "${prefix}/lib/pkgconfig")
execute_process(COMMAND pkg-config --cflags --libs OvTessarkSDK OUTPUT_VARIABLE flags
                OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
separate_arguments(flags UNIX_COMMAND "${flags}")
run("${CXX}" -std=c++17 "${SOURCE_DIR}/library/examples/example.cpp" ${flags}
    "-Wl,-rpath,${prefix}/lib" -o "${WORK_DIR}/example")
run("${CMAKE_COMMAND}" -E env ${ENV} "${WORK_DIR}/example")
string(REPLACE "," ";" PYTHONS "${PYTHONS}")
foreach(pair IN LISTS PYTHONS)
  string(REGEX REPLACE "=.*" "" version "${pair}")
  string(REGEX REPLACE "^[^=]*=" "" python "${pair}")
  set(consumer "${WORK_DIR}/consumer-${version}")
  run("${CMAKE_COMMAND}" -S "${SOURCE_DIR}/examples/consumer" -B "${consumer}" -G "${GENERATOR}"
      "-DCMAKE_PREFIX_PATH=${prefix}" "-DPYTHON=${python}")
  run("${CMAKE_COMMAND}" --build "${consumer}")
  run("${CMAKE_COMMAND}" -E env ${ENV}
      "PYTHONPATH=${prefix}/lib/python${version}/site-packages:${consumer}"
      "${python}" "${CMAKE_CURRENT_LIST_DIR}/check_consumer.py" "${prefix}")
endforeach()
