// PyOvAttribute.DoubleAttribute: data attributes of 64-bit doubles. Construction and reads are
// the typed code of TypedAttribute.h, instantiated here for OvAttr::DoubleAttribute.

#include "types/TypedAttribute.h"

namespace Tessark::PyOvAttribute::v1 {

PyTypeObject PyDoubleAttribute_Type = DefineTypedAttributeType<OvAttr::DoubleAttribute>(
    "PyOvAttribute.DoubleAttribute", "TESSARK DoubleAttribute ");

}  // namespace Tessark::PyOvAttribute::v1
