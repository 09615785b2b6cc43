// PyOvAttribute.NullAttribute: the attribute of no value.

#include <memory>

#include "module/Internal.h"

namespace Tessark::PyOvAttribute::v1 {

namespace {

// ---- Slots ----------------------------------------------------------------------------------

// Every argument is accepted and ignored, so that code handing the same arguments to every
// attribute type works for the null one too.
int NullAttribute_init(PyObject* self, PyObject* /*args*/, PyObject* /*kwds*/) {
  return GuardCpp(-1, [&] {
    auto handle = std::make_unique<OvAttr::Attribute>();
    *handle = OvAttr::NullAttribute();
    auto* obj = reinterpret_cast<PyAttribute*>(self);
    // A second __init__ replaces the handle; the old one is released only once the new one is
    // in place.
    std::unique_ptr<OvAttr::Attribute> old(obj->attr);
    obj->attr = handle.release();
    return 0;
  });
}

PyMethodDef NullAttribute_methods[] = {
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

// clang-format off
PyTypeObject PyNullAttribute_Type = {
    PyVarObject_HEAD_INIT(nullptr, 0)
    "PyOvAttribute.NullAttribute", /* tp_name */
    sizeof(PyAttribute), /* tp_basicsize */
    0, /* tp_itemsize */
    nullptr, /* tp_dealloc */
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
    nullptr, /* tp_getattro */
    nullptr, /* tp_setattro */
    nullptr, /* tp_as_buffer */
    kTypeFlags | Py_TPFLAGS_BASETYPE, /* tp_flags */
    "TESSARK NullAttribute ", /* tp_doc */
    nullptr, /* tp_traverse */
    nullptr, /* tp_clear */
    nullptr, /* tp_richcompare */
    0, /* tp_weaklistoffset */
    nullptr, /* tp_iter */
    nullptr, /* tp_iternext */
    NullAttribute_methods, /* tp_methods */
    nullptr, /* tp_members */
    nullptr, /* tp_getset */
    &PyAttribute_Type, /* tp_base */
    nullptr, /* tp_dict */
    nullptr, /* tp_descr_get */
    nullptr, /* tp_descr_set */
    0, /* tp_dictoffset */
    NullAttribute_init, /* tp_init */
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
