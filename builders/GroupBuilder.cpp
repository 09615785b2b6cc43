// PyOvAttribute.GroupBuilder: assembles a group step by step from attributes and plain Python
// values. Every method but build returns the builder itself so that calls chain.

#include <memory>
#include <utility>

#include "module/Internal.h"

namespace Tessark::PyOvAttribute::v1 {

namespace {

// Returns a new reference to self, the result of every chaining method.
PyObject* ReturnSelf(PyObject* self) noexcept {
  Py_INCREF(self);
  return self;
}

// The attribute that set and setWithUniqueName store for `value`: the handle an attribute
// object holds (borrowed; valid while `value` lives); an int (bool included) as a 32-bit
// IntAttribute, a float as a 32-bit FloatAttribute, text as a StringAttribute up to its first
// NUL, each made in `*converted`. Anything else (2.7 long and unicode, attribute objects that
// hold nothing) gives null and sets TypeError; an int outside 32 bits sets OverflowError (3:
// outside a C long, the interpreter's own). Borrows value.
const OvAttr::Attribute* AttributeForValue(PyObject* value, OvAttr::Attribute* converted) {
  if (IsAttributeObject(value)) {
    const OvAttr::Attribute& held = HeldAttribute(value);
    if (held.isValid()) return &held;
  } else if (IsInt(value)) {
    long wide = 0;
    int32_t number = 0;
    if (!IntValue(value, &wide) || !ToInt32(wide, &number)) return nullptr;
    *converted = OvAttr::IntAttribute(number);
    return converted;
  } else if (PyFloat_Check(value)) {
    *converted = OvAttr::FloatAttribute(NarrowToFloat(PyFloat_AS_DOUBLE(value)));
    return converted;
  } else if (IsText(value)) {
    OvAttr::Platform::StringView text;
    PyRef holder;
    if (!TextBytes(value, &text, &holder)) return nullptr;
    *converted = OvAttr::StringAttribute(text.data());
    return converted;
  }
  PyErr_SetString(PyExc_TypeError, "Requires a string and an attr, int, float or string");
  return nullptr;
}

// Parses the (name, value, inherit=1) arguments of set and setWithUniqueName; the common call,
// two arguments with a plain name, without the general parser (see PlainName). `name` views the
// argument or `holder`. Borrows args.
bool ParseSetArguments(PyObject* args, OvAttr::Platform::StringView* name, TextArg* holder,
                       PyObject** value, int* inherit) {
  if (PyTuple_GET_SIZE(args) == 2 && PlainName(PyTuple_GET_ITEM(args, 0), name)) {
    *value = PyTuple_GET_ITEM(args, 1);
    return true;
  }
  if (!PyArg_ParseTuple(args, PYOVATTR_TEXT "O|i", PYOVATTR_TEXT_ARG(*holder), value, inherit))
    return false;
  *name = holder->get();
  return true;
}

// The frame of every method: self is checked first, so that an uninitialised builder fails
// before its arguments do; `parse` converts the arguments; only then is the builder taken, since
// parsing can run Python code (an __int__) that re-initialised self. `act(builder)` returns the
// result, a new reference, or null with an error set.
template <typename Parse, typename Act>
PyObject* WithBuilder(PyObject* self, Parse&& parse, Act&& act) {
  return GuardCpp<PyObject*>(nullptr, [&]() -> PyObject* {
    if (!HeldBuilder(self) || !parse()) return nullptr;
    OvAttr::GroupBuilder* builder = HeldBuilder(self);
    return builder ? act(*builder) : nullptr;
  });
}

// As WithBuilder for the chaining methods: `act(builder)` returns whether it succeeded, and the
// result is self.
template <typename Parse, typename Act>
PyObject* Chain(PyObject* self, Parse&& parse, Act&& act) {
  return WithBuilder(self, std::forward<Parse>(parse), [&](OvAttr::GroupBuilder& builder) {
    return act(builder) ? ReturnSelf(self) : nullptr;
  });
}

// set and setWithUniqueName differ only in the builder operation they call.
template <typename Operation>
PyObject* SetChild(PyObject* self, PyObject* args, Operation operation) {
  OvAttr::Platform::StringView name;
  TextArg holder;
  PyObject* value = nullptr;
  int inherit = 1;
  return Chain(
      self, [&] { return ParseSetArguments(args, &name, &holder, &value, &inherit); },
      [&](OvAttr::GroupBuilder& builder) {
        OvAttr::Attribute converted;
        const OvAttr::Attribute* child = AttributeForValue(value, &converted);
        if (!child) return false;
        if (child == &converted)
          operation(builder, name, std::move(converted), inherit != 0);  // nobody else needs it
        else
          operation(builder, name, *child, inherit != 0);
        return true;
      });
}

// update and deepUpdate differ only in the builder operation they call.
template <typename Operation>
PyObject* MergeGroup(PyObject* self, PyObject* args, Operation operation) {
  PyObject* groupObject = nullptr;
  return Chain(
      self, [&] { return PyArg_ParseTuple(args, "O", &groupObject) != 0; },
      [&](OvAttr::GroupBuilder& builder) {
        OvAttr::Attribute attribute = AttributeFromPyObject(groupObject);
        if (!attribute.isValid()) {
          PyErr_SetString(PyExc_TypeError, "Requires a string and an attr");
          return false;
        }
        // Not tested here: an attribute of another kind gives an invalid view, which the
        // library merges as nothing.
        operation(builder, OvAttr::GroupAttribute(std::move(attribute)));
        return true;
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
  TextArg name;
  return Chain(
      self, [&] { return PyArg_ParseTuple(args, PYOVATTR_TEXT, PYOVATTR_TEXT_ARG(name)) != 0; },
      [&](OvAttr::GroupBuilder& builder) {
        builder.del(name.get());
        return true;
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
  PY_LONG_LONG count = 0;
  return Chain(
      self, [&] { return PyArg_ParseTuple(args, "L", &count) != 0; },
      [&](OvAttr::GroupBuilder& builder) {
        builder.reserve(count);
        return true;
      });
}

// The builder lives on after build: what it keeps is the library's rule for the mode.
PyObject* GroupBuilder_build(PyObject* self, PyObject* args) {
  int mode = OvAttr::GroupBuilder::BuildAndFlush;
  return WithBuilder(
      self, [&] { return PyArg_ParseTuple(args, "|i", &mode) != 0; },
      [&](OvAttr::GroupBuilder& builder) {
        return PyAttributeFromAttribute(
            builder.build(static_cast<OvAttr::GroupBuilder::BuilderBuildMode>(mode)));
      });
}

PyObject* GroupBuilder_setGroupInherit(PyObject* self, PyObject* args) {
  int flag = 1;
  return Chain(
      self, [&] { return PyArg_ParseTuple(args, "i", &flag) != 0; },
      [&](OvAttr::GroupBuilder& builder) {
        builder.setGroupInherit(flag != 0);
        return true;
      });
}

PyObject* GroupBuilder_sort(PyObject* self, PyObject* /*unused*/) {
  return Chain(
      self, [] { return true; },
      [](OvAttr::GroupBuilder& builder) {
        builder.sort();
        return true;
      });
}

PyMethodDef kGroupBuilderMethods[] = {
    {"set", GroupBuilder_set, METH_VARARGS,
     PYOVATTR_METHOD_DOC("set($self, name, value, inherit=1, /)\n--\n\n"
                         "Sets child name (in normal mode a dotted name is a path; inherit is "
                         "the flag of the groups it makes) to value: an attribute, or an int, "
                         "float or str made into one. Returns the builder.")},
    {"setWithUniqueName", GroupBuilder_setWithUniqueName, METH_VARARGS,
     PYOVATTR_METHOD_DOC("setWithUniqueName($self, name, value, inherit=1, /)\n--\n\n"
                         "As set, under name or, when it is taken, the first free of name1, "
                         "name2, ... Returns the builder.")},
    {"delete", GroupBuilder_delete, METH_VARARGS,
     PYOVATTR_METHOD_DOC("delete($self, name, /)\n--\n\n"
                         "Removes child name, if there is one. Returns the builder.")},
    {"update", GroupBuilder_update, METH_VARARGS,
     PYOVATTR_METHOD_DOC("update($self, group, /)\n--\n\n"
                         "Sets every child of group. Returns the builder.")},
    {"deepUpdate", GroupBuilder_deepUpdate, METH_VARARGS,
     PYOVATTR_METHOD_DOC("deepUpdate($self, group, /)\n--\n\n"
                         "As update, merging child groups into child groups. Returns the "
                         "builder.")},
    {"reserve", GroupBuilder_reserve, METH_VARARGS,
     PYOVATTR_METHOD_DOC("reserve($self, count, /)\n--\n\n"
                         "Makes room for count children. Returns the builder.")},
    {"build", GroupBuilder_build, METH_VARARGS,
     PYOVATTR_METHOD_DOC("build($self, mode=0, /)\n--\n\n"
                         "The group of the children set; GroupBuilderBuildAndFlush (0) empties "
                         "the builder, GroupBuilderBuildAndRetain (1) keeps them.")},
    {"setGroupInherit", GroupBuilder_setGroupInherit, METH_VARARGS,
     PYOVATTR_METHOD_DOC("setGroupInherit($self, flag, /)\n--\n\n"
                         "Sets the group-inherit flag of the group to build. Returns the "
                         "builder.")},
    {"sort", GroupBuilder_sort, METH_NOARGS,
     PYOVATTR_METHOD_DOC("sort($self, /)\n--\n\n"
                         "Orders the children by name. Returns the builder.")},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

PyTypeObject PyGroupBuilder_Type = [] {
  PyTypeObject type = DefineType(
      "PyOvAttribute.GroupBuilder", sizeof(PyGroupBuilder),
      PYOVATTR_DOC("TESSARK GroupBuilder",
                   "GroupBuilder(mode=0, /)\n--\n\n"
                   "Builds a group step by step. In GroupBuilderModeNormal (0) a dotted name "
                   "is a path into child groups; in GroupBuilderModeStrict (1) names are taken "
                   "as they are."),
      true);
  type.tp_dealloc = GroupBuilder_dealloc;
  type.tp_getattro = Module_getattro;  // for Python subclasses only: see module/Reduce.cpp
  type.tp_methods = kGroupBuilderMethods;
  type.tp_init = GroupBuilder_init;
  // tp_new: PyType_GenericNew, set by initPyOvAttribute
  return type;
}();

OvAttr::GroupBuilder* HeldBuilder(PyObject* self) noexcept {
  OvAttr::GroupBuilder* builder = reinterpret_cast<PyGroupBuilder*>(self)->builder;
  if (!builder) PyErr_SetString(PyExc_TypeError, "GroupBuilder is not initialised");
  return builder;
}

}  // namespace Tessark::PyOvAttribute::v1
