// Fuzz target for the module's own conversion of Python values: the typed constructors
// (IntAttribute, FloatAttribute, DoubleAttribute, StringAttribute with their tuple size),
// GroupAttribute, GroupBuilder.set and friends, and the methods that convert an argument
// (getValue defaults, sample times, ConstVector searches and comparisons).
//
// The fuzzer's bytes are a small program that builds nested Python values: ints and longs of
// every width, floats with any bit pattern (NaN payloads, infinities), str with NUL bytes,
// unicode with any code point, lists, tuples, dicts keyed by numbers, NaN or text, bytearrays,
// attribute objects, and hostile objects (conversions that raise, lengths that lie, items that
// clear the list or dict being read, an object that forges its __class__). Any Python
// exception is a fine answer; a crash, a sanitizer report, SystemError or a result returned
// with an error set is a finding. Every attribute that is made must also round-trip through
// XML and binary unchanged.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#include "PythonHost.h"

using ovattr_fuzz::Args;
using ovattr_fuzz::Finding;
using ovattr_fuzz::Ref;

namespace {

// Helper classes written in Python, made once.
const char kPrelude[] =
    "class Raiser(object):\n"
    "    def __float__(self): raise ValueError('no float')\n"
    "    __int__ = __long__ = __index__ = __trunc__ = __float__\n"
    "class Lying(object):\n"
    "    def __init__(self, claimed, actual): self.claimed, self.actual = claimed, actual\n"
    "    def __len__(self): return self.claimed\n"
    "    def __getitem__(self, i):\n"
    "        if 0 <= i < self.actual: return i\n"
    "        raise IndexError(i)\n"
    "class Clearer(object):\n"
    "    def __init__(self, target): self.target = target\n"
    "    def _clear(self):\n"
    "        t = self.target\n"
    "        if isinstance(t, list): del t[:]\n"
    "        elif isinstance(t, dict): t.clear()\n"
    "    def __float__(self): self._clear(); return 1.0\n"
    "    def __int__(self): self._clear(); return 1\n"
    "    __long__ = __index__ = __trunc__ = __int__\n"
    "    def __eq__(self, other): self._clear(); return False\n"
    "    def __hash__(self): return 3\n"
    "class Forged(object):\n"
    "    @property\n"
    "    def __class__(self): return forged_vector\n"
    "class ForgedAttr(object):\n"
    "    @property\n"
    "    def __class__(self): return forged_attribute\n"
    "class BadEq(object):\n"
    "    def __eq__(self, other): raise ValueError('eq')\n"
    "    __lt__ = __gt__ = __ne__ = __eq__\n"
    "    __hash__ = object.__hash__\n";

PyObject* Prelude(const char* name) {
  static PyObject* const globals = [] {
    PyObject* dict = PyDict_New();
    // Forged objects claim, through __class__, to be a sample view or an attribute.
    if (!dict || PyDict_SetItemString(dict, "__builtins__", PyEval_GetBuiltins()) != 0 ||
        PyDict_SetItemString(dict, "forged_vector", ovattr_fuzz::ModuleAttr("ConstVector")) ||
        PyDict_SetItemString(dict, "forged_attribute", ovattr_fuzz::ModuleAttr("Attribute")))
      Finding("cannot make the prelude's namespace", "prelude");
    Ref ran = Ref::steal(PyRun_String(kPrelude, Py_file_input, dict, dict));
    if (!ran) Finding("the prelude does not run", "prelude");
    return dict;
  }();
  PyObject* found = PyDict_GetItemString(globals, name);  // borrowed
  if (!found) Finding("prelude name missing", name);
  return found;
}

// Reads the fuzzer's bytes; past the end it reads zeros, so every program is complete.
class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
  bool empty() const { return m_pos >= m_size; }
  uint8_t byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }
  uint64_t word(int bytes) {
    uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) value |= static_cast<uint64_t>(byte()) << (8 * i);
    return value;
  }
  // Up to `limit` bytes, as a pointer into the input and a length.
  const char* chunk(size_t limit, size_t* length) {
    size_t want = byte() % (limit + 1);
    if (want > m_size - std::min(m_pos, m_size)) want = m_size - std::min(m_pos, m_size);
    const char* start = reinterpret_cast<const char*>(m_data) + std::min(m_pos, m_size);
    m_pos += want;
    *length = want;
    return start;
  }

 private:
  const uint8_t* m_data;
  size_t m_size;
  size_t m_pos = 0;
};

// Set when an input built a reference cycle.
bool g_madeCycles = false;

const char* const kTyped[] = {"IntAttribute", "FloatAttribute", "DoubleAttribute",
                              "StringAttribute"};

Ref MakeValue(Reader& in, int depth);

Ref MakeNumberKey(Reader& in) {
  switch (in.byte() % 6) {
    case 0:
      return Ref::steal(PyFloat_FromDouble(static_cast<float>(in.byte()) / 8.0));
    case 1:
      return Ref::steal(PyInt_FromLong(static_cast<int8_t>(in.byte())));
    case 2: {
      double d;
      const uint64_t bits = in.word(8);
      std::memcpy(&d, &bits, sizeof d);
      return Ref::steal(PyFloat_FromDouble(d));
    }
    case 3:
      return Ref::steal(PyFloat_FromDouble(Py_NAN));
    case 4: {
      size_t length = 0;
      const char* text = in.chunk(8, &length);
      return Ref::steal(PyString_FromStringAndSize(text, static_cast<Py_ssize_t>(length)));
    }
    default: {
      unsigned char bytes[24];
      for (unsigned char& b : bytes) b = in.byte();
      return Ref::steal(_PyLong_FromByteArray(bytes, sizeof bytes, 1, 1));
    }
  }
}

// An attribute object made through the module from a simple value.
Ref MakeAttribute(Reader& in, int depth) {
  const uint8_t choice = in.byte() % 7;
  if (choice < 4) {
    Ref value = depth < 3 ? MakeValue(in, depth + 1) : Ref::steal(PyInt_FromLong(in.byte()));
    Ref args = Args(value.get());
    return ovattr_fuzz::Call(ovattr_fuzz::ModuleAttr(kTyped[choice]), args.get(), "attr value");
  }
  if (choice == 4)
    return ovattr_fuzz::Call(ovattr_fuzz::ModuleAttr("NullAttribute"), nullptr, "null");
  if (choice == 5) {
    // An object of an attribute type that holds no value: made by __new__ alone.
    PyTypeObject* type = reinterpret_cast<PyTypeObject*>(
        ovattr_fuzz::ModuleAttr(in.byte() % 2 ? "IntAttribute" : "GroupAttribute"));
    Ref none = Ref::steal(PyTuple_New(0));
    return Ref::steal(type->tp_new(type, none.get(), nullptr));
  }
  Ref children = depth < 3 ? MakeValue(in, depth + 1) : Ref::steal(PyList_New(0));
  Ref args = Args(children.get());
  return ovattr_fuzz::Call(ovattr_fuzz::ModuleAttr("GroupAttribute"), args.get(), "attr group");
}

// Builds one Python value. Returns a new reference (never null: failures become None).
Ref MakeValue(Reader& in, int depth) {
  Ref made;
  const uint8_t op = depth > 4 ? in.byte() % 8 : in.byte() % 22;
  switch (op) {
    case 0:
      made = Ref::steal(PyInt_FromLong(static_cast<int8_t>(in.byte())));
      break;
    case 1:
      made = Ref::steal(PyInt_FromLong(static_cast<int32_t>(in.word(4))));
      break;
    case 2:
      made = Ref::steal(PyInt_FromLong(static_cast<long>(in.word(8))));
      break;
    case 3: {
      unsigned char bytes[40];
      const size_t n = 1 + in.byte() % sizeof bytes;
      for (size_t i = 0; i < n; ++i) bytes[i] = in.byte();
      made = Ref::steal(_PyLong_FromByteArray(bytes, n, 1, 1));
      break;
    }
    case 4: {
      double d;
      const uint64_t bits = in.word(8);
      std::memcpy(&d, &bits, sizeof d);
      made = Ref::steal(PyFloat_FromDouble(d));
      break;
    }
    case 5: {
      static const double kSpecial[] = {
          Py_NAN,       -Py_NAN, Py_HUGE_VAL, -Py_HUGE_VAL, -0.0,          1e39,   -1e39,
          3.4028235e38, 1e-45,   1e-320,      2147483648.0, -2147483649.0, 9.3e18, 0.1};
      made = Ref::steal(
          PyFloat_FromDouble(kSpecial[in.byte() % (sizeof kSpecial / sizeof *kSpecial)]));
      break;
    }
    case 6: {
      size_t length = 0;
      const char* text = in.chunk(48, &length);
      made = Ref::steal(PyString_FromStringAndSize(text, static_cast<Py_ssize_t>(length)));
      break;
    }
    case 7: {
      Py_UNICODE points[12];
      const size_t n = in.byte() % 12;
      for (size_t i = 0; i < n; ++i) points[i] = static_cast<Py_UNICODE>(in.word(3) % 0x110000);
      made = Ref::steal(PyUnicode_FromUnicode(points, static_cast<Py_ssize_t>(n)));
      break;
    }
    case 8:
    case 9: {
      const Py_ssize_t n = in.byte() % 9;
      Ref list = Ref::steal(PyList_New(n));
      for (Py_ssize_t i = 0; i < n && list; ++i)
        PyList_SET_ITEM(list.get(), i, MakeValue(in, depth + 1).release());
      made = op == 8 ? std::move(list) : Ref::steal(PyList_AsTuple(list.get()));
      break;
    }
    case 10: {
      // Time-keyed samples: the common useful shape, with hostile keys now and then.
      const int n = in.byte() % 5;
      made = Ref::steal(PyDict_New());
      for (int i = 0; i < n && made; ++i) {
        Ref key = MakeNumberKey(in);
        Ref value = MakeValue(in, depth + 1);
        if (key && PyDict_SetItem(made.get(), key.get(), value.get()) != 0) PyErr_Clear();
      }
      break;
    }
    case 11: {
      PyObject* const kConstants[] = {Py_None, Py_True, Py_False};
      PyObject* constant = kConstants[in.byte() % 3];
      Py_INCREF(constant);
      made = Ref::steal(constant);
      break;
    }
    case 12:
      made = MakeAttribute(in, depth);
      break;
    case 13: {
      size_t length = 0;
      const char* text = in.chunk(32, &length);
      made = Ref::steal(PyByteArray_FromStringAndSize(text, static_cast<Py_ssize_t>(length)));
      break;
    }
    case 14: {
      const uint8_t which = in.byte() % 5;
      if (which == 0) {
        made = ovattr_fuzz::Call(Prelude("Raiser"), nullptr, "Raiser");
      } else if (which == 4) {
        made = ovattr_fuzz::Call(Prelude("ForgedAttr"), nullptr, "ForgedAttr");
      } else if (which == 1) {
        Ref claimed = Ref::steal(PyInt_FromLong(in.byte() % 64));
        Ref actual = Ref::steal(PyInt_FromLong(in.byte() % 8));
        Ref args = Args(claimed.get(), actual.get());
        made = ovattr_fuzz::Call(Prelude("Lying"), args.get(), "Lying");
      } else if (which == 2) {
        made = ovattr_fuzz::Call(Prelude("Forged"), nullptr, "Forged");
      } else {
        made = ovattr_fuzz::Call(Prelude("BadEq"), nullptr, "BadEq");
      }
      break;
    }
    case 15: {
      // A list one of whose items empties the list while it is being converted.
      g_madeCycles = true;
      const Py_ssize_t n = 2 + in.byte() % 6;
      Ref list = Ref::steal(PyList_New(n));
      for (Py_ssize_t i = 0; i < n && list; ++i)
        PyList_SET_ITEM(list.get(), i, PyFloat_FromDouble(static_cast<double>(i)));
      Ref args = Args(list.get());
      Ref clearer = ovattr_fuzz::Call(Prelude("Clearer"), args.get(), "Clearer");
      if (list && clearer) PyList_SetItem(list.get(), in.byte() % n, clearer.release());
      made = std::move(list);
      break;
    }
    case 16: {
      // A dict whose key empties it when converted to a sample time.
      g_madeCycles = true;
      Ref dict = Ref::steal(PyDict_New());
      Ref args = Args(dict.get());
      Ref clearer = ovattr_fuzz::Call(Prelude("Clearer"), args.get(), "Clearer");
      Ref values = MakeValue(in, depth + 1);
      Ref other = Ref::steal(PyFloat_FromDouble(0.5));
      Ref other_values = Ref::steal(Py_BuildValue("[ii]", 1, 2));
      if (dict && clearer && values) {
        if (PyDict_SetItem(dict.get(), clearer.get(), values.get()) != 0 ||
            PyDict_SetItem(dict.get(), other.get(), other_values.get()) != 0)
          PyErr_Clear();
      }
      made = std::move(dict);
      break;
    }
    case 17:
      made = Ref::steal(PyObject_CallFunction(reinterpret_cast<PyObject*>(&PyRange_Type),
                                              const_cast<char*>("i"), in.byte() % 16));
      break;
    case 18: {
      size_t length = 0;
      const char* name = in.chunk(12, &length);
      Ref key = Ref::steal(PyString_FromStringAndSize(name, static_cast<Py_ssize_t>(length)));
      Ref attribute = MakeAttribute(in, depth);
      made = Args(key.get(), attribute.get());
      break;
    }
    case 19: {
      // A flat list of small ints or of 32-bit floats: shapes that construct successfully.
      const Py_ssize_t n = in.byte() % 16;
      const bool floats = in.byte() % 2;
      Ref list = Ref::steal(PyList_New(n));
      for (Py_ssize_t i = 0; i < n && list; ++i) {
        PyObject* item = nullptr;
        if (floats) {
          float f;
          const uint32_t bits = static_cast<uint32_t>(in.word(4));
          std::memcpy(&f, &bits, sizeof f);
          item = PyFloat_FromDouble(f);
        } else {
          item = PyInt_FromLong(static_cast<int16_t>(in.word(2)));
        }
        PyList_SET_ITEM(list.get(), i, item);
      }
      made = std::move(list);
      break;
    }
    case 20: {
      // A list of short strs, some with NUL bytes.
      const Py_ssize_t n = in.byte() % 6;
      Ref list = Ref::steal(PyList_New(n));
      for (Py_ssize_t i = 0; i < n && list; ++i) {
        size_t length = 0;
        const char* text = in.chunk(8, &length);
        PyList_SET_ITEM(list.get(), i,
                        PyString_FromStringAndSize(text, static_cast<Py_ssize_t>(length)));
      }
      made = std::move(list);
      break;
    }
    default: {
      // A sample view.
      Ref attribute = MakeAttribute(in, depth);
      if (attribute) made = ovattr_fuzz::CallMethod(attribute.get(), "getData", nullptr, "getData");
      break;
    }
  }
  if (!made) {
    PyErr_Clear();
    Py_INCREF(Py_None);
    made = Ref::steal(Py_None);
  }
  return made;
}

// Keeps an attribute that a call made, after checking that it round-trips.
void Made(const Ref& result, const char* where) {
  if (result && PyObject_TypeCheck(result.get(), reinterpret_cast<PyTypeObject*>(
                                                     ovattr_fuzz::ModuleAttr("Attribute"))))
    ovattr_fuzz::ExpectRoundTrips(result.get(), where);
}

void TypedConstruction(Reader& in) {
  const char* kind = kTyped[in.byte() % 4];
  PyObject* type = ovattr_fuzz::ModuleAttr(kind);
  Ref value = MakeValue(in, 0);
  switch (in.byte() % 4) {
    case 0: {
      Ref args = Args(value.get());
      Made(ovattr_fuzz::Call(type, args.get(), kind), kind);
      break;
    }
    case 1: {
      Ref tuple_size =
          Ref::steal(PyLong_FromLongLong(static_cast<long long>(in.word(8)) >> (in.byte() % 64)));
      Ref args = Args(value.get(), tuple_size.get());
      Made(ovattr_fuzz::Call(type, args.get(), kind), kind);
      break;
    }
    case 2: {
      Ref tuple_size = MakeValue(in, 3);
      Ref kwargs = Ref::steal(
          Py_BuildValue("{sOsO}", "attrdata", value.get(), "tupleSize", tuple_size.get()));
      Made(ovattr_fuzz::Call(type, nullptr, kind, kwargs.get()), kind);
      break;
    }
    default: {
      // Initialise an existing attribute again with the value.
      Ref first = MakeAttribute(in, 3);
      if (!first) break;
      Ref init = Ref::steal(PyObject_GetAttrString(type, "__init__"));
      Ref args = Args(first.get(), value.get());
      if (init) ovattr_fuzz::Call(init.get(), args.get(), "__init__ again");
      PyErr_Clear();
      Ref still = ovattr_fuzz::CallMethod(first.get(), "getHash", nullptr, "after __init__");
      break;
    }
  }
}

void GroupConstruction(Reader& in) {
  Ref children = MakeValue(in, 0);
  Ref inherit = Ref::steal(PyInt_FromLong(static_cast<int8_t>(in.byte())));
  Ref args = in.byte() % 2 ? Args(children.get(), inherit.get()) : Args(children.get());
  Made(ovattr_fuzz::Call(ovattr_fuzz::ModuleAttr("GroupAttribute"), args.get(), "GroupAttribute"),
       "GroupAttribute");
}

void Builder(Reader& in) {
  Ref mode = Ref::steal(PyInt_FromLong(static_cast<int8_t>(in.byte())));
  Ref mode_args = Args(mode.get());
  Ref builder =
      ovattr_fuzz::Call(ovattr_fuzz::ModuleAttr("GroupBuilder"), mode_args.get(), "GroupBuilder");
  if (!builder) Finding("GroupBuilder(mode) failed", "GroupBuilder");
  const int steps = 1 + in.byte() % 6;
  for (int step = 0; step < steps && !in.empty(); ++step) {
    size_t length = 0;
    const char* name_bytes = in.chunk(16, &length);
    Ref name = Ref::steal(PyString_FromStringAndSize(name_bytes, static_cast<Py_ssize_t>(length)));
    Ref value = MakeValue(in, 1);
    Ref flag = Ref::steal(PyInt_FromLong(static_cast<int8_t>(in.byte())));
    switch (in.byte() % 6) {
      case 0: {
        Ref args = Args(name.get(), value.get(), flag.get());
        ovattr_fuzz::CallMethod(builder.get(), "set", args.get(), "set");
        break;
      }
      case 1: {
        Ref args = Args(name.get(), value.get());
        ovattr_fuzz::CallMethod(builder.get(), "setWithUniqueName", args.get(), "unique");
        break;
      }
      case 2: {
        Ref args = Args(value.get());
        ovattr_fuzz::CallMethod(builder.get(), in.byte() % 2 ? "update" : "deepUpdate", args.get(),
                                "update");
        break;
      }
      case 3: {
        Ref args = Args(name.get());
        ovattr_fuzz::CallMethod(builder.get(), "delete", args.get(), "delete");
        break;
      }
      case 4: {
        Ref args = Args(value.get());
        ovattr_fuzz::CallMethod(builder.get(), in.byte() % 2 ? "reserve" : "setGroupInherit",
                                args.get(), "reserve");
        break;
      }
      default:
        ovattr_fuzz::CallMethod(builder.get(), "sort", nullptr, "sort");
        break;
    }
  }
  Ref build_mode = Ref::steal(PyInt_FromLong(static_cast<int8_t>(in.byte())));
  Ref build_args = Args(build_mode.get());
  Ref built = ovattr_fuzz::CallMethod(builder.get(), "build", build_args.get(), "build");
  if (!built) Finding("build failed", "GroupBuilder.build");
  Made(built, "GroupBuilder.build");
}

void ArgumentConversions(Reader& in) {
  Ref attribute = MakeAttribute(in, 2);
  Ref value = MakeValue(in, 1);
  if (!attribute) return;
  Ref args = Args(value.get());
  static const char* const kMethods[] = {
      "getValue",     "getNearestSample", "getSampleTime",  "getBoundingSampleTimes",
      "getChildName", "getChildByIndex",  "getChildByName", "writePython"};
  const char* method = kMethods[in.byte() % (sizeof kMethods / sizeof *kMethods)];
  if (std::strcmp(method, "writePython") == 0) return;  // runs arbitrary Python: not here
  ovattr_fuzz::CallMethod(attribute.get(), method, args.get(), method);

  // The same value against a sample view of the attribute.
  Ref vector = ovattr_fuzz::CallMethod(attribute.get(), "getData", nullptr, "getData");
  if (!vector) return;
  ovattr_fuzz::CallMethod(vector.get(), "count", args.get(), "count");
  ovattr_fuzz::CallMethod(vector.get(), "index", args.get(), "index");
  for (int op = Py_LT; op <= Py_GE; ++op)
    ovattr_fuzz::Checked(PyObject_RichCompare(vector.get(), value.get(), op), "compare");
  ovattr_fuzz::Checked(PySequence_GetSlice(vector.get(), static_cast<int8_t>(in.byte()),
                                           static_cast<int8_t>(in.byte())),
                       "slice");
  ovattr_fuzz::CallMethod(vector.get(), "toOvAttr", nullptr, "toOvAttr");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ovattr_fuzz::Module();
  Reader in(data, size);
  int budget = 8;  // actions per input
  while (!in.empty() && budget-- > 0) {
    switch (in.byte() % 4) {
      case 0:
        TypedConstruction(in);
        break;
      case 1:
        GroupConstruction(in);
        break;
      case 2:
        Builder(in);
        break;
      default:
        ArgumentConversions(in);
        break;
    }
    if (PyErr_Occurred()) Finding("an error left set between actions", "driver");
  }
  // The clearing containers are cycles (container -> clearer -> container). Collected here, or
  // the objects inside them, attributes included, would outlive the input in the interpreter's
  // arenas, which LeakSanitizer does not scan, and their handles would be reported as leaks.
  if (g_madeCycles) PyGC_Collect();
  g_madeCycles = false;
  return 0;
}
