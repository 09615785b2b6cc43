// PyOvAttribute.StringAttribute: data attributes of strings, each ending at its first NUL.
// Construction and reads are the typed code of TypedAttribute.h, instantiated here for
// OvAttr::StringAttribute.

#include "types/TypedAttribute.h"

namespace Tessark::PyOvAttribute::v1 {

PyTypeObject PyStringAttribute_Type = DefineTypedAttributeType<OvAttr::StringAttribute>(
    "PyOvAttribute.StringAttribute", "TESSARK StringAttribute ");

}  // namespace Tessark::PyOvAttribute::v1
