// Fuzz target for the module: an embedded interpreter hands each input to fuzz_module.one()
// (fuzz_module.py); an exception escaping it, a crash or a sanitizer report is a finding. The
// module is compiled in (built-in), the replay build (module.fuzz_replay) imports it instead.

#include <Python.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#if defined(OVATTR_FUZZ_BUILTIN_MODULE) && PY_MAJOR_VERSION >= 3
extern "C" PyObject* PyInit_PyOvAttribute();
#define OVATTR_FUZZ_INIT PyInit_PyOvAttribute
#elif defined(OVATTR_FUZZ_BUILTIN_MODULE)
extern "C" void initPyOvAttribute();
#define OVATTR_FUZZ_INIT initPyOvAttribute
#endif

// What the interpreter never frees is not a finding; two frames of allocation stack keep its
// frames out of the module's own allocation stacks.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
  return "leak:libpython\nleak:python2\nleak:python3\n";
}
extern "C" __attribute__((visibility("default"))) const char* __asan_default_options() {
  return "malloc_context_size=2";
}

static void require(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "FINDING: %s\n", what);
  if (PyErr_Occurred()) PyErr_Print();
  std::abort();
}

// fuzz_module.one from an interpreter named after the real one (to find its standard library),
// without site packages, bytecode files or signal handlers.
static PyObject* entryPoint() {
#if defined(OVATTR_FUZZ_BUILTIN_MODULE)
  require(PyImport_AppendInittab("PyOvAttribute", OVATTR_FUZZ_INIT) == 0, "register the module");
#endif
#if PY_MAJOR_VERSION >= 3
  PyConfig config;
  PyConfig_InitPythonConfig(&config);
  config.site_import = config.write_bytecode = config.install_signal_handlers = 0;
  require(!PyStatus_Exception(PyConfig_SetBytesString(&config, &config.program_name,
                                                      OVATTR_FUZZ_PYTHON_EXECUTABLE)) &&
              !PyStatus_Exception(Py_InitializeFromConfig(&config)),
          "start the interpreter");
  PyConfig_Clear(&config);
#else
  static char program[] = OVATTR_FUZZ_PYTHON_EXECUTABLE;
  Py_SetProgramName(program);
  Py_NoSiteFlag = Py_DontWriteBytecodeFlag = 1;
  Py_InitializeEx(0);
#endif
  require(PyRun_SimpleString("import sys, warnings\nwarnings.simplefilter('ignore')\n"
                             "sys.path[:0] = '" OVATTR_FUZZ_PYTHON_PATH "'.split(':')\n") == 0,
          "set sys.path");
  PyObject* module = PyImport_ImportModule("fuzz_module");
  PyObject* one = module ? PyObject_GetAttrString(module, "one") : nullptr;
  require(one != nullptr, "import fuzz_module.one");
  return one;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static PyObject* const one = entryPoint();
  PyObject* input =
      PyBytes_FromStringAndSize(reinterpret_cast<const char*>(data), static_cast<Py_ssize_t>(size));
  require(input != nullptr, "make the input bytes");
  PyObject* result = PyObject_CallFunctionObjArgs(one, input, nullptr);
  Py_DECREF(input);
  require(result != nullptr, "fuzz_module.one raised");
  Py_DECREF(result);
  PyGC_Collect();  // hostile values make cycles: their attributes must not outlive the input
  return 0;
}
