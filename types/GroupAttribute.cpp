// PyOvAttribute.GroupAttribute: an immutable group of named child attributes, made from
// (name, attribute) pairs in one call, walked by index or name, and written as Python text.

#include <cstring>

#include "module/Internal.h"

namespace Tessark::PyOvAttribute::v1 {

namespace {

constexpr const char kShapeError[] = "Expects a sequence of name/attr tuples or a dict.";

// Parses the one text argument of getChildByName into `name`, which views the argument or
// `holder`. Borrows args.
bool ParseNameArgument(PyObject* args, OvAttr::Platform::StringView* name, TextArg* holder) {
  if (PyTuple_GET_SIZE(args) == 1 && PlainName(PyTuple_GET_ITEM(args, 0), name)) return true;
  if (!PyArg_ParseTuple(args, PYOVATTR_TEXT, PYOVATTR_TEXT_ARG(*holder))) return false;
  *name = holder->get();
  return true;
}

enum class Feed { kDone, kMalformed, kRaised };

// Sets one child when `name` is text (up to its first NUL) and `value` an attribute object;
// kMalformed otherwise, with nothing set; kRaised when the text cannot be read (3: a str with
// a surrogate that stands for no byte). Borrows both.
Feed FeedChild(OvAttr::GroupBuilder& builder, PyObject* name, PyObject* value) {
  if (!IsText(name)) return Feed::kMalformed;
  const OvAttr::Attribute child = AttributeFromPyObject(value);
  if (!child.isValid()) return Feed::kMalformed;
  OvAttr::Platform::StringView text;
  PyRef holder;
  if (!TextBytes(name, &text, &holder)) return Feed::kRaised;
  builder.set(OvAttr::Platform::StringView(text.data()), child, true);
  return Feed::kDone;
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
      if (!PyTuple_Check(item) || PyTuple_GET_SIZE(item) != 2) return Feed::kMalformed;
      const Feed fed = FeedChild(builder, PyTuple_GET_ITEM(item, 0), PyTuple_GET_ITEM(item, 1));
      if (fed != Feed::kDone) return fed;
    }
    return Feed::kDone;
  }
  if (PyDict_Check(children)) {
    Py_ssize_t position = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(children, &position, &key, &value)) {
      const Feed fed = FeedChild(builder, key, value);
      if (fed != Feed::kDone) return fed;
    }
    return Feed::kDone;
  }
  return Feed::kMalformed;
}

int GroupAttribute_init(PyObject* self, PyObject* args, PyObject* kwds) {
  // A second __init__ starts from nothing (2.7), so that a failure leaves attr null as it does
  // for a fresh object, and the earlier handle is not leaked; 3 refuses it.
  if (!StartInitialiser(self)) return -1;
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
    return SetHeldAttribute(self, builder.build(OvAttr::GroupBuilder::BuildAndFlush)) ? 0 : -1;
  });
}

PyObject* GroupAttribute_getNumberOfChildren(PyObject* self, PyObject* /*unused*/) {
  return GuardCpp<PyObject*>(nullptr, [&]() -> PyObject* {
    const auto group = ViewOf<OvAttr::GroupAttribute>(self);
    if (!Require(group, kInvalidAttr)) return nullptr;
    return NewIndex(static_cast<Py_ssize_t>(group.getNumberOfChildren()));
  });
}

PyObject* GroupAttribute_getChildName(PyObject* self, PyObject* args) {
  return GuardCpp<PyObject*>(nullptr, [&]() -> PyObject* {
    const auto group = ViewOf<OvAttr::GroupAttribute>(self);
    if (!Require(group, kInvalidAttr)) return nullptr;
    PY_LONG_LONG index = 0;
    if (!PyArg_ParseTuple(args, "L", &index)) return nullptr;
    return ChildNameText(group, index);
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
    TextArg holder;
    if (!ParseNameArgument(args, &name, &holder)) return nullptr;
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
      PyRef name = PyRef::steal(ChildNameText(group, i));
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

#if PYOVATTR_PY3
// ---- The read-only mapping of child names to children (3) ---------------------------------

// The child named exactly `key` (text), or an invalid handle, also for a key that is no text
// when `textOnly` is false; with it, such a key fails with TypeError. `failed` (with the error
// set) also when self holds no group. Borrows self and key.
OvAttr::Attribute ChildNamed(PyObject* self, PyObject* key, bool textOnly, bool* failed) {
  const auto group = ViewOf<OvAttr::GroupAttribute>(self);
  *failed = !Require(group, kInvalidAttr);
  if (!*failed && textOnly && !IsText(key)) {
    PyErr_Format(PyExc_TypeError, "GroupAttribute keys are str or bytes, not %.200s",
                 Py_TYPE(key)->tp_name);
    *failed = true;
  }
  OvAttr::Platform::StringView name;
  PyRef holder;
  if (*failed || !IsText(key)) return OvAttr::Attribute();
  if (!TextBytes(key, &name, &holder)) {
    PyErr_Clear();  // a key that names no bytes names no child
    return OvAttr::Attribute();
  }
  return group.getChildByIndex(group.getChildIndex(name));
}

Py_ssize_t GroupAttribute_length(PyObject* self) {
  const auto group = ViewOf<OvAttr::GroupAttribute>(self);
  if (!Require(group, kInvalidAttr)) return -1;
  return static_cast<Py_ssize_t>(group.getNumberOfChildren());
}

// Returns a new reference; KeyError(key) when there is no such child.
PyObject* GroupAttribute_subscript(PyObject* self, PyObject* key) {
  return GuardCpp<PyObject*>(nullptr, [&]() -> PyObject* {
    bool failed = false;
    const OvAttr::Attribute child = ChildNamed(self, key, true, &failed);
    if (failed) return nullptr;
    if (!child.isValid()) {
      PyErr_SetObject(PyExc_KeyError, key);
      return nullptr;
    }
    return PyAttributeFromAttribute(child);
  });
}

int GroupAttribute_contains(PyObject* self, PyObject* key) {
  bool failed = false;
  const bool found = ChildNamed(self, key, false, &failed).isValid();
  return failed ? -1 : (found ? 1 : 0);
}

// An iterator over the child names in order. Returns a new reference.
PyObject* GroupAttribute_iter(PyObject* self) {
  return GuardCpp<PyObject*>(nullptr, [&]() -> PyObject* {
    const auto group = ViewOf<OvAttr::GroupAttribute>(self);
    if (!Require(group, kInvalidAttr)) return nullptr;
    const int64_t count = group.getNumberOfChildren();
    PyRef names = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(count)));
    if (!names) return nullptr;
    for (int64_t i = 0; i < count; ++i) {
      PyObject* name = ChildNameText(group, i);
      if (!name) return nullptr;
      PyList_SET_ITEM(names.get(), static_cast<Py_ssize_t>(i), name);  // steals name
    }
    return PyObject_GetIter(names.get());
  });
}

PyMappingMethods kGroupAttributeAsMapping = {
    GroupAttribute_length,    /* mp_length */
    GroupAttribute_subscript, /* mp_subscript */
    nullptr,                  /* mp_ass_subscript */
};

PySequenceMethods kGroupAttributeAsSequence = {
    nullptr,                 /* sq_length */
    nullptr,                 /* sq_concat */
    nullptr,                 /* sq_repeat */
    nullptr,                 /* sq_item: none, so that a group is no sequence */
    nullptr,                 /* was_sq_slice */
    nullptr,                 /* sq_ass_item */
    nullptr,                 /* was_sq_ass_slice */
    GroupAttribute_contains, /* sq_contains */
    nullptr,                 /* sq_inplace_concat */
    nullptr,                 /* sq_inplace_repeat */
};
#endif

PyMethodDef kGroupAttributeMethods[] = {
    {"getNumberOfChildren", GroupAttribute_getNumberOfChildren, METH_NOARGS,
     PYOVATTR_METHOD_DOC("getNumberOfChildren($self, /)\n--\n\nThe number of children.")},
    {"getChildName", GroupAttribute_getChildName, METH_VARARGS,
     PYOVATTR_METHOD_DOC("getChildName($self, index, /)\n--\n\n"
                         "The name of child index; '' outside the children.")},
    {"getChildByIndex", GroupAttribute_getChildByIndex, METH_VARARGS,
     PYOVATTR_METHOD_DOC("getChildByIndex($self, index, /)\n--\n\n"
                         "Child index; None outside the children (-1 is none, not the last).")},
    {"getChildByName", GroupAttribute_getChildByName, METH_VARARGS,
     PYOVATTR_METHOD_DOC("getChildByName($self, name, /)\n--\n\n"
                         "The child named name, or along a dotted path through child groups; "
                         "None when there is none.")},
    {"childList", GroupAttribute_childList, METH_NOARGS,
     PYOVATTR_METHOD_DOC("childList($self, /)\n--\n\n"
                         "The children as a list of (name, attribute) pairs, in order.")},
    {"getGroupInherit", GroupAttribute_getGroupInherit, METH_NOARGS,
     PYOVATTR_METHOD_DOC("getGroupInherit($self, /)\n--\n\nThe group-inherit flag.")},
    {"writePython", GroupAttribute_writePython, METH_VARARGS,
     PYOVATTR_METHOD_DOC("writePython($self, file, /)\n--\n\n"
                         "Writes to file.write a Python expression of the group, which "
                         "OvAttribute.readPython reads back.")},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

PyObject* ChildNameText(const OvAttr::GroupAttribute& group, int64_t index) {
  // The view avoids a std::string per child, which childList of a large group notices.
  const OvAttr::Platform::StringView name = group.getChildNameView(index);
  const char* data = name.data() ? name.data() : "";
  const void* nul = std::memchr(data, '\0', name.size());
  return NewText(data,
                 nul ? static_cast<size_t>(static_cast<const char*>(nul) - data) : name.size());
}

PyTypeObject PyGroupAttribute_Type = [] {
  PyTypeObject type = DefineAttributeType(
      "PyOvAttribute.GroupAttribute",
      PYOVATTR_DOC("TESSARK GroupAttribute ",
                   "GroupAttribute(children=None, groupInherit=True)\n--\n\n"
                   "Named child attributes in order, and a group-inherit flag. children is a "
                   "sequence of (name, attribute) pairs or a dict of name: attribute. A group "
                   "is a read-only mapping too: len(g), g[name], name in g and iteration over "
                   "the names."),
      &PyAttribute_Type, kGroupAttributeMethods, GroupAttribute_init);
#if PYOVATTR_PY3
  type.tp_as_sequence = &kGroupAttributeAsSequence;
  type.tp_as_mapping = &kGroupAttributeAsMapping;
  type.tp_iter = GroupAttribute_iter;
#endif
  return type;
}();

}  // namespace Tessark::PyOvAttribute::v1
