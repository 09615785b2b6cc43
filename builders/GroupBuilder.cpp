// PyOvAttribute.GroupBuilder: assembles a group step by step from attributes and plain Python
// values. Every method but build returns the builder itself so that calls chain.

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <utility>

#include "module/Internal.h"

namespace Tessark::PyOvAttribute::v1 {

namespace {

// Objects are PyGroupBuilder (module/Internal.h): the header and the owned library builder.

// The builder self owns, or null with TypeError set when __init__ never ran on self (made by
// GroupBuilder.__new__ alone, or its __init__ failed in the argument parser). Borrows self.
OvAttr::GroupBuilder* HeldBuilder(PyObject* self) noexcept {
  OvAttr::GroupBuilder* builder = reinterpret_cast<PyGroupBuilder*>(self)->builder;
  if (!builder) PyErr_SetString(PyExc_TypeError, "GroupBuilder is not initialised");
  return builder;
}

// Returns a new reference to self, the result of every chaining method.
PyObject* ReturnSelf(PyObject* self) noexcept {
  Py_INCREF(self);
  return self;
}

// The nearest 32-bit float to `value`, with IEEE rounding also beyond the float range (where a
// plain cast is undefined): past FLT_MAX by half a unit or more becomes an infinity.
float NarrowToFloat(double value) noexcept {
  if (std::isfinite(value) && std::fabs(value) > FLT_MAX) {
    // 2^128 - 2^103: half-way between FLT_MAX and 2^128; a tie rounds to even, the infinity.
    const double halfWay = std::ldexp(1.0, 128) - std::ldexp(1.0, 103);
    const float magnitude = std::fabs(value) < halfWay ? FLT_MAX : INFINITY;
    return std::signbit(value) ? -magnitude : magnitude;
  }
  return static_cast<float>(value);
}

// The attribute that set and setWithUniqueName store for `value`: the handle an attribute
// object holds (borrowed; valid while `value` lives); an int (bool included) as a 32-bit
// IntAttribute, a float as a 32-bit FloatAttribute, a str as a StringAttribute up to its first
// NUL, each made in `*converted`. Anything else (long, unicode and attribute objects that hold
// nothing included) gives null and sets TypeError; an int outside 32 bits sets OverflowError.
// Borrows value.
const OvAttr::Attribute* AttributeForValue(PyObject* value, OvAttr::Attribute* converted) {
  if (IsAttributeObject(value)) {
    const OvAttr::Attribute& held = HeldAttribute(value);
    if (held.isValid()) return &held;
  } else if (PyInt_Check(value)) {
    // The interpreter's int is 64 bits wide here; silently wrapping would store another
    // number, so the refusal is the interpreter's own for a C int that does not fit.
    const long number = PyInt_AS_LONG(value);
    if (number < INT32_MIN || number > INT32_MAX) {
      PyErr_SetString(PyExc_OverflowError, "Python int too large to convert to C int");
      return nullptr;
    }
    *converted = OvAttr::IntAttribute(static_cast<int32_t>(number));
    return converted;
  } else if (PyFloat_Check(value)) {
    *converted = OvAttr::FloatAttribute(NarrowToFloat(PyFloat_AS_DOUBLE(value)));
    return converted;
  } else if (PyString_Check(value)) {
    *converted = OvAttr::StringAttribute(PyString_AS_STRING(value));
    return converted;
  }
  PyErr_SetString(PyExc_TypeError, "Requires a string and an attr, int, float or string");
  return nullptr;
}

// Parses the "sO|i" arguments of set and setWithUniqueName. The common call, two arguments
// with a NUL-free str name, is read directly: the general parser is about a third of the
// module's own cost per call when a loop sets thousands of children. Every other call goes
// through the parser, so its conversions and errors stay exactly the parser's. Borrows args.
bool ParseSetArguments(PyObject* args, OvAttr::Platform::StringView* name, PyObject** value,
                       int* inherit) {
  if (PyTuple_GET_SIZE(args) == 2) {
    PyObject* nameObject = PyTuple_GET_ITEM(args, 0);
    if (PyString_Check(nameObject)) {
      const char* data = PyString_AS_STRING(nameObject);
      const size_t size = static_cast<size_t>(PyString_GET_SIZE(nameObject));
      if (!std::memchr(data, '\0', size)) {
        *name = OvAttr::Platform::StringView(data, size);
        *value = PyTuple_GET_ITEM(args, 1);
        return true;
      }
    }
  }
  const char* cName = nullptr;
  if (!PyArg_ParseTuple(args, "sO|i", &cName, value, inherit)) return false;
  *name = OvAttr::Platform::StringView(cName);
  return true;
}

// set and setWithUniqueName differ only in the builder operation they call.
template <typename Operation>
PyObject* SetChild(PyObject* self, PyObject* args, Operation operation) {
  return GuardCpp<PyObject*>(nullptr, [&]() -> PyObject* {
    if (!HeldBuilder(self)) return nullptr;
    OvAttr::Platform::StringView name;
    PyObject* value = nullptr;
    int inherit = 1;
    if (!ParseSetArguments(args, &name, &value, &inherit)) return nullptr;
    // Looked up again: the parse may have run an __int__ that re-initialised self.
    OvAttr::GroupBuilder* builder = HeldBuilder(self);
    if (!builder) return nullptr;
    OvAttr::Attribute converted;
    const OvAttr::Attribute* child = AttributeForValue(value, &converted);
    if (!child) return nullptr;
    if (child == &converted)
      operation(*builder, name, std::move(converted), inherit != 0);  // nobody else needs it
    else
      operation(*builder, name, *child, inherit != 0);
    return ReturnSelf(self);
  });
}

// update and deepUpdate differ only in the builder operation they call.
template <typename Operation>
PyObject* MergeGroup(PyObject* self, PyObject* args, Operation operation) {
  return GuardCpp<PyObject*>(nullptr, [&]() -> PyObject* {
    if (!HeldBuilder(self)) return nullptr;
    PyObject* groupObject = nullptr;
    if (!PyArg_ParseTuple(args, "O", &groupObject)) return nullptr;
    OvAttr::GroupBuilder* builder = HeldBuilder(self);  // after the parse, as in SetChild
    if (!builder) return nullptr;
    OvAttr::Attribute attribute = AttributeFromPyObject(groupObject);
    if (!attribute.isValid()) {
      PyErr_SetString(PyExc_TypeError, "Requires a string and an attr");
      return nullptr;
    }
    // Not tested here: an attribute of another kind gives an invalid view, which the library
    // merges as nothing.
    const OvAttr::GroupAttribute group(std::move(attribute));
    operation(*builder, group);
    return ReturnSelf(self);
  });
}

// The library builder of the last GroupBuilder object that died, emptied. Scripts make one
// builder per group, group after group; handing the next one this builder's memory (entries,
// names, index) spares each group the allocation, and the page faults, of all of it. Only
// touched with the GIL held.
std::unique_ptr<OvAttr::GroupBuilder> g_spareBuilder;

void GroupBuilder_dealloc(PyObject* self) {
  auto* object = reinterpret_cast<PyGroupBuilder*>(self);
  std::unique_ptr<OvAttr::GroupBuilder> builder(object->builder);
  object->builder = nullptr;
  if (builder && !g_spareBuilder) {
    try {
      builder->reset();  // drops the children now, keeps the memory
      g_spareBuilder = std::move(builder);
    } catch (...) {
      // Only a builder without state allocates in reset; it is simply destroyed.
    }
  }
  Py_TYPE(self)->tp_free(self);
}

// Keywords are accepted and ignored: the mode is read from the positional arguments alone.
int GroupBuilder_init(PyObject* self, PyObject* args, PyObject* /*kwds*/) {
  int mode = OvAttr::GroupBuilder::BuilderModeNormal;
  if (!PyArg_ParseTuple(args, "|i", &mode)) return -1;
  return GuardCpp(-1, [&]() -> int {
    // Any int reaches the library, which treats unknown modes as normal.
    const auto builderMode = static_cast<OvAttr::GroupBuilder::BuilderMode>(mode);
    std::unique_ptr<OvAttr::GroupBuilder> fresh = std::move(g_spareBuilder);
    if (fresh)
      fresh->reset(builderMode);
    else
      fresh = std::make_unique<OvAttr::GroupBuilder>(builderMode);
    auto* object = reinterpret_cast<PyGroupBuilder*>(self);
    // A second __init__ replaces the builder; the old one goes only once the new one exists.
    std::unique_ptr<OvAttr::GroupBuilder> previous(object->builder);
    object->builder = fresh.release();
    return 0;
  });
}

PyObject* GroupBuilder_set(PyObject* self, PyObject* args) {
  return SetChild(
      self, args,
      [](OvAttr::GroupBuilder& builder, OvAttr::Platform::StringView name, auto&& child,
         bool inherit) { builder.set(name, std::forward<decltype(child)>(child), inherit); });
}

PyObject* GroupBuilder_setWithUniqueName(PyObject* self, PyObject* args) {
  return SetChild(self, args,
                  [](OvAttr::GroupBuilder& builder, OvAttr::Platform::StringView name, auto&& child,
                     bool inherit) {
                    builder.setWithUniqueName(name, std::forward<decltype(child)>(child), inherit);
                  });
}

PyObject* GroupBuilder_delete(PyObject* self, PyObject* args) {
  return GuardCpp<PyObject*>(nullptr, [&]() -> PyObject* {
    if (!HeldBuilder(self)) return nullptr;
    const char* name = nullptr;
    if (!PyArg_ParseTuple(args, "s", &name)) return nullptr;
    OvAttr::GroupBuilder* builder = HeldBuilder(self);  // after the parse, as in SetChild
    if (!builder) return nullptr;
    builder->del(OvAttr::Platform::StringView(name));
    return ReturnSelf(self);
  });
}

PyObject* GroupBuilder_update(PyObject* self, PyObject* args) {
  return MergeGroup(self, args,
                    [](OvAttr::GroupBuilder& builder, const OvAttr::GroupAttribute& group) {
                      builder.update(group);
                    });
}

PyObject* GroupBuilder_deepUpdate(PyObject* self, PyObject* args) {
  return MergeGroup(self, args,
                    [](OvAttr::GroupBuilder& builder, const OvAttr::GroupAttribute& group) {
                      builder.deepUpdate(group);
                    });
}

PyObject* GroupBuilder_reserve(PyObject* self, PyObject* args) {
  return GuardCpp<PyObject*>(nullptr, [&]() -> PyObject* {
    if (!HeldBuilder(self)) return nullptr;
    PY_LONG_LONG count = 0;
    if (!PyArg_ParseTuple(args, "L", &count)) return nullptr;
    OvAttr::GroupBuilder* builder = HeldBuilder(self);  // after the parse, as in SetChild
    if (!builder) return nullptr;
    builder->reserve(count);
    return ReturnSelf(self);
  });
}

// The builder lives on after build: what it keeps is the library's rule for the mode.
PyObject* GroupBuilder_build(PyObject* self, PyObject* args) {
  return GuardCpp<PyObject*>(nullptr, [&]() -> PyObject* {
    if (!HeldBuilder(self)) return nullptr;
    int mode = OvAttr::GroupBuilder::BuildAndFlush;
    if (!PyArg_ParseTuple(args, "|i", &mode)) return nullptr;
    OvAttr::GroupBuilder* builder = HeldBuilder(self);  // after the parse, as in SetChild
    if (!builder) return nullptr;
    const OvAttr::GroupAttribute group =
        builder->build(static_cast<OvAttr::GroupBuilder::BuilderBuildMode>(mode));
    return PyAttributeFromAttribute(group);
  });
}

PyObject* GroupBuilder_setGroupInherit(PyObject* self, PyObject* args) {
  return GuardCpp<PyObject*>(nullptr, [&]() -> PyObject* {
    if (!HeldBuilder(self)) return nullptr;
    int flag = 1;
    if (!PyArg_ParseTuple(args, "i", &flag)) return nullptr;
    OvAttr::GroupBuilder* builder = HeldBuilder(self);  // after the parse, as in SetChild
    if (!builder) return nullptr;
    builder->setGroupInherit(flag != 0);
    return ReturnSelf(self);
  });
}

PyObject* GroupBuilder_sort(PyObject* self, PyObject* /*unused*/) {
  return GuardCpp<PyObject*>(nullptr, [&]() -> PyObject* {
    OvAttr::GroupBuilder* builder = HeldBuilder(self);
    if (!builder) return nullptr;
    builder->sort();
    return ReturnSelf(self);
  });
}

PyMethodDef kGroupBuilderMethods[] = {
    {"set", GroupBuilder_set, METH_VARARGS, ""},
    {"setWithUniqueName", GroupBuilder_setWithUniqueName, METH_VARARGS, ""},
    {"delete", GroupBuilder_delete, METH_VARARGS, ""},
    {"update", GroupBuilder_update, METH_VARARGS, ""},
    {"deepUpdate", GroupBuilder_deepUpdate, METH_VARARGS, ""},
    {"reserve", GroupBuilder_reserve, METH_VARARGS, ""},
    {"build", GroupBuilder_build, METH_VARARGS, ""},
    {"setGroupInherit", GroupBuilder_setGroupInherit, METH_VARARGS, ""},
    {"sort", GroupBuilder_sort, METH_NOARGS, ""},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

// The listing keeps one slot a line, zeros included.
// clang-format off
PyTypeObject PyGroupBuilder_Type = {
    PyVarObject_HEAD_INIT(nullptr, 0)
    "PyOvAttribute.GroupBuilder", /* tp_name */
    sizeof(PyGroupBuilder), /* tp_basicsize */
    0, /* tp_itemsize */
    GroupBuilder_dealloc, /* tp_dealloc */
    nullptr, /* tp_print */
    nullptr, /* tp_getattr */
    nullptr, /* tp_setattr */
    nullptr, /* tp_compare */
    nullptr, /* tp_repr */
    nullptr, /* tp_as_number */
    nullptr, /* tp_as_sequence */
    nullptr, /* tp_as_mapping */
    nullptr, /* tp_hash */
    nullptr, /* tp_call */
    nullptr, /* tp_str */
    Module_getattro, /* tp_getattro */
    nullptr, /* tp_setattro */
    nullptr, /* tp_as_buffer */
    kTypeFlags | Py_TPFLAGS_BASETYPE, /* tp_flags */
    "TESSARK GroupBuilder", /* tp_doc */
    nullptr, /* tp_traverse */
    nullptr, /* tp_clear */
    nullptr, /* tp_richcompare */
    0, /* tp_weaklistoffset */
    nullptr, /* tp_iter */
    nullptr, /* tp_iternext */
    kGroupBuilderMethods, /* tp_methods */
    nullptr, /* tp_members */
    nullptr, /* tp_getset */
    nullptr, /* tp_base */
    nullptr, /* tp_dict */
    nullptr, /* tp_descr_get */
    nullptr, /* tp_descr_set */
    0, /* tp_dictoffset */
    GroupBuilder_init, /* tp_init */
    nullptr, /* tp_alloc */
    nullptr, /* tp_new */
    nullptr, /* tp_free */
    nullptr, /* tp_is_gc */
    nullptr, /* tp_bases */
    nullptr, /* tp_mro */
    nullptr, /* tp_cache */
    nullptr, /* tp_subclasses */
    nullptr, /* tp_weaklist */
    nullptr, /* tp_del */
    0, /* tp_version_tag */
};
// clang-format on

}  // namespace Tessark::PyOvAttribute::v1
