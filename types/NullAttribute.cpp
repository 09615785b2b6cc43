// PyOvAttribute.NullAttribute: the attribute of no value.

#include "module/Internal.h"

namespace Tessark::PyOvAttribute::v1 {

namespace {

// Every argument is accepted and ignored, so that code handing the same arguments to every
// attribute type works for the null one too.
int NullAttribute_init(PyObject* self, PyObject* /*args*/, PyObject* /*kwds*/) {
  if (!StartInitialiser(self)) return -1;
  return GuardCpp(-1, [&] { return SetHeldAttribute(self, OvAttr::NullAttribute()) ? 0 : -1; });
}

PyMethodDef kNullAttributeMethods[] = {
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

PyTypeObject PyNullAttribute_Type =
    DefineAttributeType("PyOvAttribute.NullAttribute",
                        PYOVATTR_DOC("TESSARK NullAttribute ",
                                     "NullAttribute(*args, **kwargs)\n--\n\n"
                                     "The attribute of no value; every argument is ignored."),
                        &PyAttribute_Type, kNullAttributeMethods, NullAttribute_init);

}  // namespace Tessark::PyOvAttribute::v1
