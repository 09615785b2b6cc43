// PyOvAttribute.Attribute: the abstract root of the attribute types. Every attribute object
// gets its deallocator, comparison, hashing, serialisation and writePython from here.

#include <cstring>
#include <vector>

#include "module/Internal.h"

namespace Tessark::PyOvAttribute::v1 {

namespace {

// Run by writePython with _theAttr and _theFile bound; the result reads back through the
// OvAttribute package.
WritePythonScript gWritePythonScript = {
    "_theFile.write('OvAttribute.%s(%s, %s)' % "
    "(_theAttr.__class__.__name__,repr(_theAttr.getSamples()),repr(_theAttr.getTupleSize())))",
    nullptr};

// ---- Slots ----------------------------------------------------------------------------------

void Attribute_dealloc(PyObject* self) {
  ClearHeldAttribute(self);
  Py_TYPE(self)->tp_free(self);
}

// Only the kinds below can be made from Python. Calling this on a live object (as
// Attribute.__init__(x)) drops its handle, which leaves it an object without a value rather
// than leaking the handle.
int Attribute_init(PyObject* self, PyObject* /*args*/, PyObject* /*kwds*/) {
  ClearHeldAttribute(self);
  PyErr_SetString(PyExc_TypeError, "Cannot construct abstract Attribute directly.");
  return -1;
}

// Equal exactly when the first words of the attribute hashes are equal, whatever the Python
// types; an object without a value compares as the invalid handle.
int Attribute_compare(PyObject* self, PyObject* other) {
  const int isAttribute =
      PyObject_IsInstance(other, reinterpret_cast<PyObject*>(&PyAttribute_Type));
  if (isAttribute <= 0) return -1;  // with the error of PyObject_IsInstance, if any
  return GuardCpp(-1, [&] {
    const uint64_t mine = HashOf(HeldAttribute(self)).first;
    // PyObject_IsInstance also believes a __class__ attribute, so the layout of `other` is
    // only trusted after a real type check; anything else compares as the invalid handle.
    const uint64_t theirs = HashOf(AttributeFromPyObject(other)).first;
    return mine < theirs ? -1 : (mine > theirs ? 1 : 0);
  });
}

long Attribute_hash(PyObject* self) {
  return GuardCpp(-1L, [&] {
    // The low 32 bits, sign-extended, so that hashes agree between 32- and 64-bit interpreters.
    const auto low = static_cast<int32_t>(static_cast<uint32_t>(HashOf(HeldAttribute(self)).first));
    const long hash = low;
    return hash == -1 ? -2L : hash;
  });
}

// ---- Methods --------------------------------------------------------------------------------

// Returns a new reference.
PyObject* Attribute_getXML(PyObject* self, PyObject* /*unused*/) {
  return GuardCpp<PyObject*>(nullptr, [&]() -> PyObject* {
    const OvAttr::Attribute attribute = HeldAttribute(self);  // a copy: the lock may go below
    if (!Require(attribute, kInvalidAttr)) return nullptr;
    std::string text;
    {
      ReleasedGil released(WorthReleasingGil(attribute, kReleaseGilTextBytes));
      text = attribute.getXML();
    }
    return NewStringCopy(text.data(), text.size());  // XML text holds no NUL
  });
}

// Static. Returns a new reference.
PyObject* Attribute_parseXML(PyObject* /*unused*/, PyObject* args) {
  const char* text = nullptr;
  if (!PyArg_ParseTuple(args, "s", &text)) return nullptr;
  return GuardCpp<PyObject*>(nullptr, [&]() -> PyObject* {
    OvAttr::Attribute parsed;
    try {
      // `text` belongs to an argument of the call, which stays alive and cannot change.
      const size_t size = std::strlen(text);
      ReleasedGil released(size >= kReleaseGilTextBytes);
      parsed = OvAttr::Attribute::parseXML(OvAttr::Platform::StringView(text, size));
    } catch (const std::runtime_error&) {
      PyErr_SetString(PyExc_ValueError, "Given string is not valid OvAttribute XML");
      return nullptr;
    }
    return PyAttributeFromAttribute(parsed);
  });
}

// Static. Borrows the data object for the length of the call. Returns a new reference.
PyObject* Attribute_parseBinary(PyObject* /*unused*/, PyObject* args) {
  PyObject* data = nullptr;
  if (!PyArg_ParseTuple(args, "O", &data)) return nullptr;
  return GuardCpp<PyObject*>(
      nullptr,
      [&]() -> PyObject* {
        const char* bytes = nullptr;
        Py_ssize_t size = 0;
        // A str cannot change while it is read; a bytearray can, so it is read with the lock.
        bool immutable = false;
        if (PyByteArray_Check(data)) {
          bytes = PyByteArray_AsString(data);
          size = PyByteArray_Size(data);
        } else if (PyString_Check(data)) {
          bytes = PyString_AsString(data);
          size = PyString_Size(data);
          immutable = true;
        } else {
          PyErr_SetString(PyExc_TypeError,
                          "parseBinary argument must be a PyByteArray or PyString.");
          return nullptr;
        }
        OvAttr::Attribute parsed;
        {
          ReleasedGil released(immutable && static_cast<size_t>(size) >= kReleaseGilBytes);
          parsed = OvAttr::Attribute::parseBinary(bytes, size < 0 ? 0 : static_cast<size_t>(size));
        }
        if (!parsed.isValid()) {
          PyErr_SetString(PyExc_TypeError,
                          "binary representation does not parse to a valid OvAttribute");
          return nullptr;
        }
        return PyAttributeFromAttribute(parsed);
      },
      Failures::kTranslated);
}

// Returns a new reference: a bytearray, so that NUL bytes survive. An object without a value
// needs no test of its own: the library writes nothing for the invalid handle, which is
// reported like any representation that cannot be made.
PyObject* Attribute_getBinary(PyObject* self, PyObject* /*unused*/) {
  return GuardCpp<PyObject*>(
      nullptr,
      [&]() -> PyObject* {
        const OvAttr::Attribute attribute = HeldAttribute(self);  // a copy: the lock may go
        std::vector<char> bytes;
        {
          ReleasedGil released(WorthReleasingGil(attribute));
          attribute.getBinary(bytes);
        }
        if (bytes.empty()) {
          PyErr_SetString(PyExc_TypeError, "could not getBinary representation of OvAttribute");
          return nullptr;
        }
        return NewByteArrayCopy(bytes.data(), bytes.size());
      },
      Failures::kTranslated);
}

// Returns a new reference.
PyObject* Attribute_getHash(PyObject* self, PyObject* /*unused*/) {
  return GuardCpp<PyObject*>(nullptr, [&]() -> PyObject* {
    if (!Require(HeldAttribute(self), kInvalidAttr)) return nullptr;
    const std::string text = HashOf(HeldAttribute(self)).str();
    return PyString_FromString(text.c_str());
  });
}

// Returns a new reference: an int, or a long when the word does not fit one; never negative.
PyObject* Attribute_getHash64(PyObject* self, PyObject* /*unused*/) {
  return GuardCpp<PyObject*>(nullptr, [&]() -> PyObject* {
    if (!Require(HeldAttribute(self), kInvalidAttr)) return nullptr;
    return PyInt_FromSize_t(static_cast<size_t>(HashOf(HeldAttribute(self)).first));
  });
}

PyObject* Attribute_writePython(PyObject* self, PyObject* args) {
  return RunWritePythonScript(self, args, gWritePythonScript);
}

PyMethodDef kAttributeMethods[] = {
    {"getXML", Attribute_getXML, METH_NOARGS, ""},
    {"parseXML", Attribute_parseXML, METH_VARARGS | METH_STATIC, ""},
    {"parseBinary", Attribute_parseBinary, METH_VARARGS | METH_STATIC, ""},
    {"getBinary", Attribute_getBinary, METH_NOARGS, ""},
    {"getHash", Attribute_getHash, METH_NOARGS, ""},
    {"getHash64", Attribute_getHash64, METH_NOARGS, ""},
    {"writePython", Attribute_writePython, METH_VARARGS, ""},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

// Borrows self and the file; the temporary namespace holds its own references to both while
// the script runs. Returns a new reference (None), or null with the script's exception set.
PyObject* RunWritePythonScript(PyObject* self, PyObject* args, WritePythonScript& script) {
  PyObject* file = nullptr;
  if (!PyArg_ParseTuple(args, "O", &file)) return nullptr;
  PyObject* builtins = PyEval_GetBuiltins();  // borrowed
  if (!builtins) {
    PyErr_SetString(PyExc_SystemError, "no builtins to run writePython with");
    return nullptr;
  }
  const PyRef globals = PyRef::steal(PyDict_New());
  if (!globals) return nullptr;
  if (PyDict_SetItemString(globals.get(), "_theAttr", self) < 0 ||
      PyDict_SetItemString(globals.get(), "_theFile", file) < 0 ||
      PyDict_SetItemString(globals.get(), "__builtins__", builtins) < 0) {
    return nullptr;
  }
  // Compiled once: a group writes each child through a script run of its own, and compiling
  // the text again for every child was most of the cost.
  if (!script.code) {
    script.code = Py_CompileString(script.text, "<writePython>", Py_file_input);
    if (!script.code) return nullptr;
  }
  return PyEval_EvalCode(reinterpret_cast<PyCodeObject*>(script.code), globals.get(),
                         globals.get());
}

PyTypeObject PyAttribute_Type = [] {
  PyTypeObject type = DefineAttributeType("PyOvAttribute.Attribute", "TESSARK attribute", nullptr,
                                          kAttributeMethods, Attribute_init);
  type.tp_dealloc = Attribute_dealloc;
  type.tp_compare = Attribute_compare;
  type.tp_hash = Attribute_hash;
  type.tp_getattro = Module_getattro;  // for Python subclasses only: see module/Reduce.cpp
  // tp_new: PyType_GenericNew, set by initPyOvAttribute
  return type;
}();

}  // namespace Tessark::PyOvAttribute::v1
