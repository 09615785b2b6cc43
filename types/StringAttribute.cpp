// PyOvAttribute.StringAttribute: data attributes of strings, each ending at its first NUL.
// Construction and reads are the typed code of TypedAttribute.h, instantiated here for
// OvAttr::StringAttribute.

#include "types/TypedAttribute.h"

namespace Tessark::PyOvAttribute::v1 {

// clang-format off
PyTypeObject PyStringAttribute_Type = {
    PyVarObject_HEAD_INIT(nullptr, 0)
    "PyOvAttribute.StringAttribute", /* tp_name */
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
    "TESSARK StringAttribute ", /* tp_doc */
    nullptr, /* tp_traverse */
    nullptr, /* tp_clear */
    nullptr, /* tp_richcompare */
    0, /* tp_weaklistoffset */
    nullptr, /* tp_iter */
    nullptr, /* tp_iternext */
    kTypedAttributeMethods<OvAttr::StringAttribute>, /* tp_methods */
    nullptr, /* tp_members */
    nullptr, /* tp_getset */
    &PyDataAttribute_Type, /* tp_base */
    nullptr, /* tp_dict */
    nullptr, /* tp_descr_get */
    nullptr, /* tp_descr_set */
    0, /* tp_dictoffset */
    InitTypedAttribute<OvAttr::StringAttribute>, /* tp_init */
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
