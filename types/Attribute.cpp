// PyOvAttribute.Attribute: the abstract root of the attribute types. Every attribute object
// gets its deallocator, comparison, hashing, serialisation and writePython from here.

#include <cstring>
#include <vector>

#include "module/Internal.h"

namespace Tessark::PyOvAttribute::v1 {

namespace {

// Run by writePython with _theAttr and _theFile bound; the result reads back through the
// OvAttribute package. 2.7 writes the samples' repr as it is. 3 writes text that evaluates back
// too: the vectors' reprs quote strings the Python 3 way, and infinities and NaN, which print as
// names, are written as calls (where a repr holds an "n" that no quoted string explains).
WritePythonScript gWritePythonScript = {
#if PYOVATTR_PY3
    // No function is defined: one would hold the namespace, which holds the function.
    "_samples = _theAttr.getSamples()\n"
    "_text = repr(_samples)\n"
    "if 'n' in _text:\n"
    "    _parts = []\n"
    "    for _pair in _samples.items():\n"
    "        _texts = [repr(_item) for _item in _pair]\n"
    "        for _i in (0, 1):\n"
    "            if \"'\" not in _texts[_i] and '\"' not in _texts[_i]:\n"
    "                _texts[_i] = _texts[_i].replace('nan', \"float('nan')\")"
    ".replace('inf', \"float('inf')\")\n"
    "        _parts.append('%s: %s' % tuple(_texts))\n"
    "    _text = '{%s}' % ', '.join(_parts)\n"
    "_theFile.write('OvAttribute.%s(%s, %r)' % "
    "(_theAttr.__class__.__name__, _text, _theAttr.getTupleSize()))",
#else
    "_theFile.write('OvAttribute.%s(%s, %s)' % "
    "(_theAttr.__class__.__name__,repr(_theAttr.getSamples()),repr(_theAttr.getTupleSize())))",
#endif
    nullptr};

// ---- Slots ----------------------------------------------------------------------------------

void Attribute_dealloc(PyObject* self) {
  ClearHeldAttribute(self);
  Py_TYPE(self)->tp_free(self);
}

// Only the kinds below can be made from Python. Calling this on a live object (as
// Attribute.__init__(x)) drops its handle on 2.7, which leaves it an object without a value
// rather than leaking the handle; on 3 the value stays (kInitReplacesValue).
int Attribute_init(PyObject* self, PyObject* /*args*/, PyObject* /*kwds*/) {
  if (kInitReplacesValue) ClearHeldAttribute(self);
  PyErr_SetString(PyExc_TypeError, "Cannot construct abstract Attribute directly.");
  return -1;
}

#if PYOVATTR_PY3
// Whether a and b hold equal values: one shared value, or the same kind, shape, sample times
// and values (bit for bit; strings byte for byte) and, for groups, the same inherit flag and
// children (names and values, in order). Groups are walked with a stack of its own, so that a
// deep one costs no C stack. Throws std::bad_alloc.
bool EqualValues(const OvAttr::Attribute& a, const OvAttr::Attribute& b) {
  std::vector<std::pair<OvAttr::Attribute, OvAttr::Attribute>> pending{{a, b}};
  while (!pending.empty()) {
    const auto next = std::move(pending.back());
    pending.pop_back();
    // References, not structured bindings: the lambda below captures them, which C++17 only
    // allows of variables.
    const OvAttr::Attribute& x = next.first;
    const OvAttr::Attribute& y = next.second;
    if (x.sharesValueWith(y)) continue;
    if (x.getType() != y.getType()) return false;
    const OvAttr::GroupAttribute group(x);
    if (group.isValid()) {
      const OvAttr::GroupAttribute other(y);
      const int64_t count = group.getNumberOfChildren();
      if (count != other.getNumberOfChildren() ||
          group.getGroupInherit() != other.getGroupInherit())
        return false;
      for (int64_t i = 0; i < count; ++i) {
        if (group.getChildNameView(i) != other.getChildNameView(i)) return false;
        pending.emplace_back(group.getChildByIndex(i), other.getChildByIndex(i));
      }
      continue;
    }
    const OvAttr::DataAttribute data(x);
    const OvAttr::DataAttribute otherData(y);
    const int64_t samples = data.getNumberOfTimeSamples();
    if (data.getTupleSize() != otherData.getTupleSize() ||
        data.getNumberOfValues() != otherData.getNumberOfValues() ||
        samples != otherData.getNumberOfTimeSamples())
      return false;
    for (int64_t i = 0; i < samples; ++i) {
      const float times[] = {data.getSampleTime(i), otherData.getSampleTime(i)};
      if (std::memcmp(&times[0], &times[1], sizeof(float)) != 0) return false;
      const bool same = OvAttr::detail::visitDataKind(x.getType(), true, [&](auto tag) {
        using T = typename decltype(tag)::type;
        const auto mine = OvAttr::TypedDataAttribute<T>(x).getSample(i);
        const auto theirs = OvAttr::TypedDataAttribute<T>(y).getSample(i);
        if (mine.size() != theirs.size()) return false;
        if constexpr (OvAttr::detail::kIsString<T>) {
          for (size_t k = 0; k < mine.size(); ++k)
            if (std::strcmp(mine[k], theirs[k]) != 0) return false;
          return true;
        } else {
          return mine.empty() ||
                 std::memcmp(mine.data(), theirs.data(), mine.size() * sizeof(T)) == 0;
        }
      });
      if (!same) return false;
    }
  }
  return true;
}

// Ordered by the first word of the hash, then by the second; equal when both words are and the
// values are too (EqualValues), which a collision of the hash words cannot fake. A foreign
// object is unequal, and not ordered (NotImplemented). Returns a new reference.
PyObject* Attribute_richcompare(PyObject* self, PyObject* other, int op) {
  if (!IsAttributeObject(other)) {
    if (op == Py_EQ || op == Py_NE) return PyBool_FromLong(op == Py_NE);
    Py_RETURN_NOTIMPLEMENTED;
  }
  return GuardCpp<PyObject*>(nullptr, [&]() -> PyObject* {
    // Copies: the lock may go below, and another thread may then re-initialise the objects.
    const OvAttr::Attribute mine = HeldAttribute(self);
    const OvAttr::Attribute theirs = HeldAttribute(other);
    const OvAttr::Hash a = HashOf(mine);
    const OvAttr::Hash b = HashOf(theirs);
    const int order = a < b ? -1 : (b < a ? 1 : 0);
    bool equal = false;
    if (order == 0) {
      ReleasedGil released(WorthReleasingGil(mine));
      equal = EqualValues(mine, theirs);
    }
    bool result = false;
    switch (op) {
      case Py_LT:
        result = order < 0;
        break;
      case Py_LE:
        result = order < 0 || equal;
        break;
      case Py_EQ:
        result = equal;
        break;
      case Py_NE:
        result = !equal;
        break;
      case Py_GT:
        result = order > 0;
        break;
      case Py_GE:
        result = order > 0 || equal;
        break;
    }
    return PyBool_FromLong(result);
  });
}
#else
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
#endif

// The same number on both interpreters.
HashValue Attribute_hash(PyObject* self) {
  return GuardCpp(HashValue{-1}, [&] {
    // The low 32 bits, sign-extended, so that hashes agree between 32- and 64-bit interpreters.
    const auto low = static_cast<int32_t>(static_cast<uint32_t>(HashOf(HeldAttribute(self)).first));
    const HashValue hash = low;
    return hash == -1 ? HashValue{-2} : hash;
  });
}

#if PYOVATTR_PY3
// How many times, values or child names a repr shows.
constexpr Py_ssize_t kReprItems = 8;

// The repr of the first kReprItems of `count` items that item(i) makes (new references), with
// ", ..." before the closing bracket when there are more. Returns a new reference.
template <typename Item>
PyObject* ShortListRepr(int64_t count, Item&& item) {
  const Py_ssize_t shown = count < kReprItems ? static_cast<Py_ssize_t>(count) : kReprItems;
  PyRef list = PyRef::steal(PyList_New(shown));
  if (!list) return nullptr;
  for (Py_ssize_t i = 0; i < shown; ++i) {
    PyObject* made = item(i);
    if (!made) return nullptr;
    PyList_SET_ITEM(list.get(), i, made);  // steals made
  }
  PyRef text = PyRef::steal(PyObject_Repr(list.get()));
  if (!text || count <= kReprItems) return text.release();
  const PyRef open =
      PyRef::steal(PyUnicode_Substring(text.get(), 0, PyUnicode_GET_LENGTH(text.get()) - 1));
  return open ? PyUnicode_FromFormat("%U, ...]", open.get()) : nullptr;
}

// <IntAttribute tupleSize=2 times=[0.0] [1, 2, 3, 4]>: the type and a short view of the value
// (the first sample's values, or the children's names). Returns a new reference.
PyObject* Attribute_repr(PyObject* self) {
  return GuardCpp<PyObject*>(nullptr, [&]() -> PyObject* {
    const char* name = std::strrchr(Py_TYPE(self)->tp_name, '.');
    name = name ? name + 1 : Py_TYPE(self)->tp_name;
    const OvAttr::Attribute attribute = HeldAttribute(self);
    const OvAttr::GroupAttribute group(attribute);
    const OvAttr::DataAttribute data(attribute);
    if (group.isValid()) {
      const PyRef children = PyRef::steal(ShortListRepr(
          group.getNumberOfChildren(), [&](Py_ssize_t i) { return ChildNameText(group, i); }));
      return children
                 ? PyUnicode_FromFormat("<%s groupInherit=%s %U>", name,
                                        group.getGroupInherit() ? "True" : "False", children.get())
                 : nullptr;
    }
    if (data.isValid()) {
      const PyRef times =
          PyRef::steal(ShortListRepr(data.getNumberOfTimeSamples(), [&](Py_ssize_t i) {
            return PyFloat_FromDouble(data.getSampleTime(i));
          }));
      const PyRef values = PyRef::steal(
          times ? OvAttr::detail::visitDataKind(
                      attribute.getType(), static_cast<PyObject*>(nullptr),
                      [&](auto tag) {
                        using T = typename decltype(tag)::type;
                        const auto sample = OvAttr::TypedDataAttribute<T>(data).getSample(0);
                        return ShortListRepr(
                            sample.size(), [&](Py_ssize_t i) { return ElementObject(sample[i]); });
                      })
                : nullptr);
      if (!values) return nullptr;
      return PyUnicode_FromFormat("<%s tupleSize=%lld times=%U %U>", name,
                                  static_cast<long long>(data.getTupleSize()), times.get(),
                                  values.get());
    }
    return attribute.isValid() ? PyUnicode_FromFormat("<%s>", name)
                               : PyUnicode_FromFormat("<%s without a value>", name);
  });
}
#endif

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
    return NewText(text.data(), text.size());
  });
}

// Static. Returns a new reference.
PyObject* Attribute_parseXML(PyObject* /*unused*/, PyObject* args) {
  TextArg text;
  if (!PyArg_ParseTuple(args, PYOVATTR_TEXT, PYOVATTR_TEXT_ARG(text))) return nullptr;
  return GuardCpp<PyObject*>(nullptr, [&]() -> PyObject* {
    OvAttr::Attribute parsed;
    try {
      // `text` belongs to an argument of the call (or to `text` itself), which stays alive and
      // cannot change.
      const OvAttr::Platform::StringView view = text.get();
      ReleasedGil released(view.size() >= kReleaseGilTextBytes);
      parsed = OvAttr::Attribute::parseXML(view);
    } catch (const std::runtime_error& error) {
      RaiseWithCause(PyExc_ValueError, "Given string is not valid OvAttribute XML", error.what());
      return nullptr;
    }
    return PyAttributeFromAttribute(parsed);
  });
}

// The bytes parseBinary reads, and whether nothing can change them while it reads them
// without the lock. 2.7: a bytearray or a str (and subclasses), which is immutable. 3: any
// object with the buffer protocol, a C-contiguous view of it held for the call; a bytes object
// is immutable. False with TypeError (or the exporter's error) set.
struct BinaryInput {
  const char* data = nullptr;
  size_t size = 0;
  bool immutable = false;
#if PYOVATTR_PY3
  HeldBuffer buffer;
#endif

  bool read(PyObject* obj) {
    const char kRefused[] = "parseBinary argument must be a PyByteArray or PyString.";
#if PYOVATTR_PY3
    if (!PyObject_CheckBuffer(obj)) {
      PyErr_SetString(PyExc_TypeError, kRefused);
      return false;
    }
    if (!buffer.acquire(obj, PyBUF_FULL_RO)) return false;
    if (!PyBuffer_IsContiguous(&buffer.view(), 'C')) {
      PyErr_SetString(PyExc_ValueError, "parseBinary takes a C-contiguous buffer");
      return false;
    }
    data = static_cast<const char*>(buffer.view().buf);
    size = static_cast<size_t>(buffer.view().len);
    immutable = PyBytes_Check(obj);
#else
    Py_ssize_t length = 0;
    if (PyByteArray_Check(obj)) {
      data = PyByteArray_AsString(obj);
      length = PyByteArray_Size(obj);
    } else if (PyString_Check(obj)) {
      data = PyString_AsString(obj);
      length = PyString_Size(obj);
      immutable = true;
    } else {
      PyErr_SetString(PyExc_TypeError, kRefused);
      return false;
    }
    size = length < 0 ? 0 : static_cast<size_t>(length);
#endif
    return true;
  }
};

// Static. Borrows the data object for the length of the call. Returns a new reference.
PyObject* Attribute_parseBinary(PyObject* /*unused*/, PyObject* args) {
  PyObject* data = nullptr;
  if (!PyArg_ParseTuple(args, "O", &data)) return nullptr;
  return GuardCpp<PyObject*>(
      nullptr,
      [&]() -> PyObject* {
        BinaryInput input;  // declared first: the view must outlive the unlocked parse
        if (!input.read(data)) return nullptr;
        OvAttr::Attribute parsed;
        std::string reason;
        {
          // Another thread could change a mutable buffer under the parser: it keeps the lock.
          ReleasedGil released(input.immutable && input.size >= kReleaseGilBytes);
          parsed = OvAttr::Attribute::parseBinary(input.data, input.size, &reason);
        }
        if (!parsed.isValid()) {
          RaiseWithCause(PyExc_TypeError,
                         "binary representation does not parse to a valid OvAttribute",
                         reason.c_str());
          return nullptr;
        }
        return PyAttributeFromAttribute(parsed);
      },
      Failures::kTranslated);
}

// Returns a new reference: a bytearray (3: bytes), so that NUL bytes survive. An object without a
// value needs no test of its own: the library writes nothing for the invalid handle, which is
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
        return NewBinary(bytes.data(), bytes.size());
      },
      Failures::kTranslated);
}

// Returns a new reference.
PyObject* Attribute_getHash(PyObject* self, PyObject* /*unused*/) {
  return GuardCpp<PyObject*>(nullptr, [&]() -> PyObject* {
    if (!Require(HeldAttribute(self), kInvalidAttr)) return nullptr;
    const std::string text = HashOf(HeldAttribute(self)).str();
    return NewText(text.data(), text.size());
  });
}

// Returns a new reference: an int (2.7: a long when the word does not fit one); never negative.
PyObject* Attribute_getHash64(PyObject* self, PyObject* /*unused*/) {
  return GuardCpp<PyObject*>(nullptr, [&]() -> PyObject* {
    if (!Require(HeldAttribute(self), kInvalidAttr)) return nullptr;
    return NewUnsigned(static_cast<size_t>(HashOf(HeldAttribute(self)).first));
  });
}

PyObject* Attribute_writePython(PyObject* self, PyObject* args) {
  return RunWritePythonScript(self, args, gWritePythonScript);
}

PyMethodDef kAttributeMethods[] = {
    {"getXML", Attribute_getXML, METH_NOARGS,
     PYOVATTR_METHOD_DOC("getXML($self, /)\n--\n\nThe attribute as XML text.")},
    {"parseXML", Attribute_parseXML, METH_VARARGS | METH_STATIC,
     PYOVATTR_METHOD_DOC("parseXML(text, /)\n--\n\n"
                         "The attribute that XML text (str or bytes) describes. ValueError when "
                         "it is not attribute XML; its __cause__ says why.")},
    {"parseBinary", Attribute_parseBinary, METH_VARARGS | METH_STATIC,
     PYOVATTR_METHOD_DOC("parseBinary(data, /)\n--\n\n"
                         "The attribute whose binary form (getBinary) is in data, any bytes-like "
                         "object. TypeError when it does not parse; its __cause__ says why.")},
    {"getBinary", Attribute_getBinary, METH_NOARGS,
     PYOVATTR_METHOD_DOC("getBinary($self, /)\n--\n\nThe attribute's binary form, as bytes.")},
    {"getHash", Attribute_getHash, METH_NOARGS,
     PYOVATTR_METHOD_DOC("getHash($self, /)\n--\n\n"
                         "The 128-bit content hash as 32 hexadecimal digits.")},
    {"getHash64", Attribute_getHash64, METH_NOARGS,
     PYOVATTR_METHOD_DOC("getHash64($self, /)\n--\n\n"
                         "The first 64-bit word of the content hash, a non-negative int.")},
    {"writePython", Attribute_writePython, METH_VARARGS,
     PYOVATTR_METHOD_DOC("writePython($self, file, /)\n--\n\n"
                         "Writes to file.write a Python expression of the attribute, which "
                         "OvAttribute.readPython reads back.")},
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
  return EvalCode(script.code, globals.get());
}

PyTypeObject PyAttribute_Type = [] {
  PyTypeObject type = DefineAttributeType(
      "PyOvAttribute.Attribute",
      PYOVATTR_DOC("TESSARK attribute",
                   "The abstract root of the attribute types: an immutable value, ordered and "
                   "hashed by its 128-bit content hash, written as XML, binary or Python text."),
      nullptr, kAttributeMethods, Attribute_init);
  type.tp_dealloc = Attribute_dealloc;
#if PYOVATTR_PY3
  type.tp_repr = Attribute_repr;
  type.tp_richcompare = Attribute_richcompare;
#else
  type.tp_compare = Attribute_compare;
#endif
  type.tp_hash = Attribute_hash;
  type.tp_getattro = Module_getattro;  // for Python subclasses only: see module/Reduce.cpp
  // tp_new: PyType_GenericNew, set by initPyOvAttribute
  return type;
}();

}  // namespace Tessark::PyOvAttribute::v1
