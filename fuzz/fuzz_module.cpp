// Fuzz target for the module as scripts use it: an embedded interpreter hands every input to
// fuzz_module.one() (fuzz_module.py), which parses it or runs it as a small program of calls
// through the suites' harness. A Python exception escaping one() is a finding, as is a crash
// or a sanitizer report.
//
// Two builds. In the normal build (the module.fuzz_replay CTest test) the interpreter imports
// the built extension from the build's python folder. In the libFuzzer build the module's and
// the library's sources are compiled into this program with coverage and registered as a
// built-in module, so that the interpreter, which is not instrumented, is the only code the
// fuzzer cannot see into.

#include <Python.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#if !defined(OVATTR_FUZZ_PYTHON_PATH) || !defined(OVATTR_FUZZ_PYTHON_EXECUTABLE)
#error "the build defines OVATTR_FUZZ_PYTHON_PATH and OVATTR_FUZZ_PYTHON_EXECUTABLE"
#endif

#if defined(OVATTR_FUZZ_BUILTIN_MODULE)
#if PY_MAJOR_VERSION >= 3
extern "C" PyObject* PyInit_PyOvAttribute();
#define OVATTR_FUZZ_INIT PyInit_PyOvAttribute
#else
extern "C" void initPyOvAttribute();
#define OVATTR_FUZZ_INIT initPyOvAttribute
#endif
#endif

// The interpreter never frees much of what it allocates at start-up, and keeps objects in
// arenas that LeakSanitizer does not scan: those are the interpreter's, not findings. Two frames
// of allocation stack keep its frames out of the stacks of the module's own allocations, which
// the suppression would otherwise hide too. Exported for a sanitizer runtime in a shared library.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
  return "leak:libpython\nleak:python2\nleak:python3\n";
}
extern "C" __attribute__((visibility("default"))) const char* __asan_default_options() {
  return "malloc_context_size=2";
}

namespace {

[[noreturn]] void finding(const char* what) {
  std::fprintf(stderr, "FINDING: %s\n", what);
  if (PyErr_Occurred()) PyErr_Print();
  std::abort();
}

// fuzz_module.one, imported once and kept for the life of the process.
PyObject* entryPoint() {
#if defined(OVATTR_FUZZ_BUILTIN_MODULE)
  if (PyImport_AppendInittab("PyOvAttribute", OVATTR_FUZZ_INIT) != 0)
    finding("cannot register the built-in module");
#endif
    // Named after the real interpreter, the embedded one finds its standard library. No site
    // packages, no bytecode files, no signal handlers (libFuzzer has its own).
#if PY_MAJOR_VERSION >= 3
  PyConfig config;
  PyConfig_InitPythonConfig(&config);
  config.site_import = 0;
  config.write_bytecode = 0;
  config.install_signal_handlers = 0;
  const PyStatus status =
      PyConfig_SetBytesString(&config, &config.program_name, OVATTR_FUZZ_PYTHON_EXECUTABLE);
  if (PyStatus_Exception(status) || PyStatus_Exception(Py_InitializeFromConfig(&config)))
    finding("cannot start the interpreter");
  PyConfig_Clear(&config);
#else
  static char program[] = OVATTR_FUZZ_PYTHON_EXECUTABLE;
  Py_SetProgramName(program);
  Py_NoSiteFlag = 1;
  Py_DontWriteBytecodeFlag = 1;
  Py_InitializeEx(0);
#endif
  // The module's folder, this folder and the suites' folder, ':'-separated.
  const char* setup =
      "import sys, warnings\n"
      "sys.path[:0] = '" OVATTR_FUZZ_PYTHON_PATH
      "'.split(':')\n"
      "warnings.simplefilter('ignore')\n";
  if (PyRun_SimpleString(setup) != 0) finding("cannot set sys.path");
  PyObject* program_module = PyImport_ImportModule("fuzz_module");
  if (!program_module) finding("cannot import fuzz_module");
  PyObject* one = PyObject_GetAttrString(program_module, "one");
  if (!one) finding("fuzz_module has no one()");
  return one;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static PyObject* const one = entryPoint();
  PyObject* input =
      PyBytes_FromStringAndSize(reinterpret_cast<const char*>(data), static_cast<Py_ssize_t>(size));
  if (!input) finding("cannot make the input bytes");
  PyObject* result = PyObject_CallFunctionObjArgs(one, input, nullptr);
  Py_DECREF(input);
  if (!result) finding("fuzz_module.one raised");
  Py_DECREF(result);
  // Hostile values build reference cycles; collected now, their attributes do not outlive the
  // input in arenas that LeakSanitizer does not scan.
  PyGC_Collect();
  return 0;
}
