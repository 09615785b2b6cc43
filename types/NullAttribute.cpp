// PyOvAttribute.NullAttribute: the attribute of no value.

#include "module/Internal.h"

namespace Tessark::PyOvAttribute::v1 {

namespace {

// Every argument is accepted and ignored, so that code handing the same arguments to every
// attribute type works for the null one too.
int NullAttribute_init(PyObject* self, PyObject* /*args*/, PyObject* /*kwds*/) {
  return GuardCpp(-1, [&] {
    SetHeldAttribute(self, OvAttr::NullAttribute());
    return 0;
  });
}

PyMethodDef kNullAttributeMethods[] = {
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

PyTypeObject PyNullAttribute_Type =
    DefineAttributeType("PyOvAttribute.NullAttribute", "TESSARK NullAttribute ", &PyAttribute_Type,
                        kNullAttributeMethods, NullAttribute_init);

}  // namespace Tessark::PyOvAttribute::v1
