// PyOvAttribute.FloatAttribute: data attributes of 32-bit floats. Construction and reads are the
// typed code of TypedAttribute.h, instantiated here for OvAttr::FloatAttribute.

#include "types/TypedAttribute.h"

namespace Tessark::PyOvAttribute::v1 {

PyTypeObject PyFloatAttribute_Type = DefineTypedAttributeType<OvAttr::FloatAttribute>(
    "PyOvAttribute.FloatAttribute", "TESSARK FloatAttribute ");

}  // namespace Tessark::PyOvAttribute::v1
