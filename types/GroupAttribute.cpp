// PyOvAttribute.GroupAttribute: an immutable group of named child attributes, made from
// (name, attribute) pairs in one call, walked by index or name, and written as Python text.

#include <cstring>

#include "module/Internal.h"

namespace Tessark::PyOvAttribute::v1 {

namespace {

constexpr const char kShapeError[] = "Expects a sequence of name/attr tuples or a dict.";

// The str of child `index`'s name, cut at its first NUL. Returns a new reference.
PyObject* ChildNameString(const OvAttr::GroupAttribute& group, int64_t index) {
  // The view avoids a std::string per child, which childList of a large group notices.
  const OvAttr::Platform::StringView name = group.getChildNameView(index);
  const char* data = name.data() ? name.data() : "";
  const void* nul = std::memchr(data, '\0', name.size());
  const size_t length =
      nul ? static_cast<size_t>(static_cast<const char*>(nul) - data) : name.size();
  return PyString_FromStringAndSize(data, static_cast<Py_ssize_t>(length));
}

// Parses the one "s" argument of getChildByName. Borrows args.
bool ParseNameArgument(PyObject* args, OvAttr::Platform::StringView* name) {
  if (PyTuple_GET_SIZE(args) == 1 && PlainName(PyTuple_GET_ITEM(args, 0), name)) return true;
  const char* cName = nullptr;
  if (!PyArg_ParseTuple(args, "s", &cName)) return false;
  *name = OvAttr::Platform::StringView(cName);
  return true;
}

enum class Feed { kDone, kMalformed, kRaised };

// Sets one child when `name` is a str and `value` an attribute object; false otherwise, with
// nothing set. Borrows both.
bool FeedChild(OvAttr::GroupBuilder& builder, PyObject* name, PyObject* value) {
  if (!PyString_Check(name)) return false;
  const OvAttr::Attribute child = AttributeFromPyObject(value);
  if (!child.isValid()) return false;
  builder.set(OvAttr::Platform::StringView(PyString_AS_STRING(name)), child, true);
  return true;
}

// Feeds `children` (null when the argument was left out) into the builder. kRaised means a
// Python error is already set (the sequence could not be listed); kMalformed means the shape
// error is still to be raised. Borrows children.
Feed FeedChildren(OvAttr::GroupBuilder& builder, PyObject* children) {
  if (!children) return Feed::kDone;
  if (PySequence_Check(children)) {
    PyRef fast = PyRef::steal(PySequence_Fast(children, "not a sequence"));
    if (!fast) return Feed::kRaised;
    const Py_ssize_t count = PySequence_Fast_GET_SIZE(fast.get());
    // No Python code runs in this loop, so the item array stays put.
    PyObject** items = PySequence_Fast_ITEMS(fast.get());
    for (Py_ssize_t i = 0; i < count; ++i) {
      PyObject* item = items[i];
      if (!PyTuple_Check(item) || PyTuple_GET_SIZE(item) != 2 ||
          !FeedChild(builder, PyTuple_GET_ITEM(item, 0), PyTuple_GET_ITEM(item, 1))) {
        return Feed::kMalformed;
      }
    }
    return Feed::kDone;
  }
  if (PyDict_Check(children)) {
    Py_ssize_t position = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(children, &position, &key, &value)) {
      if (!FeedChild(builder, key, value)) return Feed::kMalformed;
    }
    return Feed::kDone;
  }
  return Feed::kMalformed;
}

int GroupAttribute_init(PyObject* self, PyObject* args, PyObject* kwds) {
  // A second __init__ starts from nothing, so that a failure leaves attr null as it does for
  // a fresh object, and the earlier handle is not leaked.
  ClearHeldAttribute(self);
  static char* keywords[] = {const_cast<char*>("children"), const_cast<char*>("groupInherit"),
                             nullptr};
  PyObject* children = nullptr;
  int groupInherit = 1;
  if (!PyArg_ParseTupleAndKeywords(args, kwds, "|Oi", keywords, &children, &groupInherit)) {
    return -1;
  }
  return GuardCpp(-1, [&]() -> int {
    // Strict mode: names are taken as they are, so a dotted name stays one child and the
    // Python text that writePython writes reads back into the same group.
    OvAttr::GroupBuilder builder(OvAttr::GroupBuilder::BuilderModeStrict);
    switch (FeedChildren(builder, children)) {
      case Feed::kDone:
        break;
      case Feed::kMalformed:
        PyErr_SetString(PyExc_TypeError, kShapeError);
        return -1;
      case Feed::kRaised:
        return -1;
    }
    if (groupInherit == 0) builder.setGroupInherit(false);
    SetHeldAttribute(self, builder.build(OvAttr::GroupBuilder::BuildAndFlush));
    return 0;
  });
}

PyObject* GroupAttribute_getNumberOfChildren(PyObject* self, PyObject* /*unused*/) {
  return GuardCpp<PyObject*>(nullptr, [&]() -> PyObject* {
    const auto group = ViewOf<OvAttr::GroupAttribute>(self);
    if (!Require(group, kInvalidAttr)) return nullptr;
    return PyInt_FromSsize_t(static_cast<Py_ssize_t>(group.getNumberOfChildren()));
  });
}

PyObject* GroupAttribute_getChildName(PyObject* self, PyObject* args) {
  return GuardCpp<PyObject*>(nullptr, [&]() -> PyObject* {
    const auto group = ViewOf<OvAttr::GroupAttribute>(self);
    if (!Require(group, kInvalidAttr)) return nullptr;
    PY_LONG_LONG index = 0;
    if (!PyArg_ParseTuple(args, "L", &index)) return nullptr;
    return ChildNameString(group, index);
  });
}

// The index goes to the library as given: -1 is no child, not the last one.
PyObject* GroupAttribute_getChildByIndex(PyObject* self, PyObject* args) {
  return GuardCpp<PyObject*>(nullptr, [&]() -> PyObject* {
    const auto group = ViewOf<OvAttr::GroupAttribute>(self);
    if (!Require(group, kInvalidAttr)) return nullptr;
    PY_LONG_LONG index = 0;
    if (!PyArg_ParseTuple(args, "L", &index)) return nullptr;
    return PyAttributeFromAttribute(group.getChildByIndex(index));
  });
}

// Dotted paths into child groups are the library's business.
PyObject* GroupAttribute_getChildByName(PyObject* self, PyObject* args) {
  return GuardCpp<PyObject*>(nullptr, [&]() -> PyObject* {
    const auto group = ViewOf<OvAttr::GroupAttribute>(self);
    if (!Require(group, kInvalidAttr)) return nullptr;
    OvAttr::Platform::StringView name;
    if (!ParseNameArgument(args, &name)) return nullptr;
    return PyAttributeFromAttribute(group.getChildByName(name));
  });
}

PyObject* GroupAttribute_childList(PyObject* self, PyObject* /*unused*/) {
  return GuardCpp<PyObject*>(nullptr, [&]() -> PyObject* {
    const auto group = ViewOf<OvAttr::GroupAttribute>(self);
    if (!Require(group, kInvalidAttr)) return nullptr;
    const int64_t count = group.getNumberOfChildren();
    PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(count)));
    if (!list) return nullptr;
    for (int64_t i = 0; i < count; ++i) {
      PyRef name = PyRef::steal(ChildNameString(group, i));
      if (!name) return nullptr;
      PyRef child = PyRef::steal(PyAttributeFromAttribute(group.getChildByIndex(i)));
      if (!child) return nullptr;
      PyObject* pair = PyTuple_New(2);
      if (!pair) return nullptr;
      PyTuple_SET_ITEM(pair, 0, name.release());
      PyTuple_SET_ITEM(pair, 1, child.release());
      PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), pair);
    }
    return list.release();
  });
}

PyObject* GroupAttribute_getGroupInherit(PyObject* self, PyObject* /*unused*/) {
  return GuardCpp<PyObject*>(nullptr, [&]() -> PyObject* {
    const auto group = ViewOf<OvAttr::GroupAttribute>(self);
    if (!Require(group, kInvalidAttr)) return nullptr;
    return PyBool_FromLong(group.getGroupInherit() ? 1 : 0);
  });
}

// Written in Python so that each child writes itself through its own writePython, whatever
// its kind, and nested groups recurse naturally.
WritePythonScript gWritePythonScript = {
    "_theFile.write('OvAttribute.GroupAttribute([')\n"
    "for childIndex in range(_theAttr.getNumberOfChildren()):\n"
    "    child = _theAttr.getChildByIndex(childIndex)\n"
    "    childName = _theAttr.getChildName(childIndex)\n"
    "    _theFile.write('(%s, ' % repr(childName))\n"
    "    child.writePython(_theFile)\n"
    "    _theFile.write('), ')\n"
    "_theFile.write('], %s)' % repr(_theAttr.getGroupInherit()))",
    nullptr};

// The library is reached only through the script's own method calls, each guarded, so an
// invalid group surfaces as the script's "Invalid attr" after the opening text is written.
PyObject* GroupAttribute_writePython(PyObject* self, PyObject* args) {
  return RunWritePythonScript(self, args, gWritePythonScript);
}

PyMethodDef kGroupAttributeMethods[] = {
    {"getNumberOfChildren", GroupAttribute_getNumberOfChildren, METH_NOARGS, ""},
    {"getChildName", GroupAttribute_getChildName, METH_VARARGS, ""},
    {"getChildByIndex", GroupAttribute_getChildByIndex, METH_VARARGS, ""},
    {"getChildByName", GroupAttribute_getChildByName, METH_VARARGS, ""},
    {"childList", GroupAttribute_childList, METH_NOARGS, ""},
    {"getGroupInherit", GroupAttribute_getGroupInherit, METH_NOARGS, ""},
    {"writePython", GroupAttribute_writePython, METH_VARARGS, ""},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

PyTypeObject PyGroupAttribute_Type =
    DefineAttributeType("PyOvAttribute.GroupAttribute", "TESSARK GroupAttribute ",
                        &PyAttribute_Type, kGroupAttributeMethods, GroupAttribute_init);

}  // namespace Tessark::PyOvAttribute::v1
