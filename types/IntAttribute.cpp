// PyOvAttribute.IntAttribute: data attributes of 32-bit signed integers. Construction and reads
// are the typed code of TypedAttribute.h, instantiated here for OvAttr::IntAttribute.

#include "types/TypedAttribute.h"

namespace Tessark::PyOvAttribute::v1 {

PyTypeObject PyIntAttribute_Type = DefineTypedAttributeType<OvAttr::IntAttribute>(
    "PyOvAttribute.IntAttribute", "TESSARK IntAttribute ");

}  // namespace Tessark::PyOvAttribute::v1
