// Owners of Python references and of the interpreter's pending error, for C++ code that calls
// the Python API: the module, its fuzz host and the test-only extension share them.
#pragma once

#include <Python.h>

namespace Tessark::PyOvAttribute::v1 {

// Owns one strong reference to a Python object (or none). Move-only. Two ways in: steal() adopts
// a new reference, newRef() takes one on a borrowed pointer; release() hands it out.
class PyRef {
 public:
  PyRef() noexcept = default;
  // Adopts a new reference (may be null, as returned by a failed API call).
  static PyRef steal(PyObject* obj) noexcept { return PyRef(obj); }
  // Takes a new reference on a borrowed pointer.
  static PyRef newRef(PyObject* obj) noexcept {
    Py_XINCREF(obj);
    return PyRef(obj);
  }
  PyRef(PyRef&& other) noexcept : m_obj(other.m_obj) { other.m_obj = nullptr; }
  PyRef& operator=(PyRef&& other) noexcept {
    if (this != &other) {
      PyObject* old = m_obj;
      m_obj = other.m_obj;
      other.m_obj = nullptr;
      Py_XDECREF(old);
    }
    return *this;
  }
  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  // Clears the member before the decref (Py_CLEAR order): a decref can run arbitrary code.
  ~PyRef() { reset(); }

  void reset() noexcept {
    PyObject* old = m_obj;
    m_obj = nullptr;
    Py_XDECREF(old);
  }
  PyObject* get() const noexcept { return m_obj; }
  explicit operator bool() const noexcept { return m_obj != nullptr; }
  // Hands the reference out (return values, reference-stealing APIs).
  PyObject* release() noexcept {
    PyObject* obj = m_obj;
    m_obj = nullptr;
    return obj;
  }

 private:
  explicit PyRef(PyObject* obj) noexcept : m_obj(obj) {}
  PyObject* m_obj = nullptr;
};

// Takes the pending Python error out of the interpreter, so that code may call Python while it
// waits; restore() puts it back, and an error not restored is dropped with the owner.
class PendingError {
 public:
  PendingError() noexcept {
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    m_type = PyRef::steal(type);
    m_value = PyRef::steal(value);
    m_traceback = PyRef::steal(traceback);
  }
  void restore() noexcept {
    PyErr_Restore(m_type.release(), m_value.release(), m_traceback.release());
  }

 private:
  PyRef m_type;
  PyRef m_value;
  PyRef m_traceback;
};

// Adds `value` to `module` under `name`, taking the reference over whatever happens: the
// interpreter's own PyModule_AddObject steals it only when it succeeds, and leaks it otherwise.
// False with the error set (also for a null value, whose error is already set).
inline bool AddToModule(PyObject* module, const char* name, PyRef value) {
  if (!value || PyModule_AddObject(module, name, value.get()) < 0) return false;
  value.release();
  return true;
}

}  // namespace Tessark::PyOvAttribute::v1
