// PyOvAttribute.FloatAttribute: data attributes of 32-bit floats. Construction and reads are the
// typed code of TypedAttribute.h, instantiated here for OvAttr::FloatAttribute.

#include "types/TypedAttribute.h"

namespace Tessark::PyOvAttribute::v1 {

PyTypeObject PyFloatAttribute_Type = DefineTypedAttributeType<OvAttr::FloatAttribute>(
    "PyOvAttribute.FloatAttribute",
    PYOVATTR_DOC(
        "TESSARK FloatAttribute ",
        "FloatAttribute(attrdata, tupleSize=1)\n--\n\n"
        "32-bit floats in time samples, grouped in tuples of tupleSize. attrdata is one number, "
        "a sequence or a buffer of them (one sample at time 0), or a dict of time: such a "
        "sequence."));

}  // namespace Tessark::PyOvAttribute::v1
