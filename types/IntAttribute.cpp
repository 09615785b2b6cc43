// PyOvAttribute.IntAttribute: data attributes of 32-bit signed integers. Construction and reads
// are the typed code of TypedAttribute.h, instantiated here for OvAttr::IntAttribute.

#include "types/TypedAttribute.h"

namespace Tessark::PyOvAttribute::v1 {

PyTypeObject PyIntAttribute_Type = DefineTypedAttributeType<OvAttr::IntAttribute>(
    "PyOvAttribute.IntAttribute",
    PYOVATTR_DOC(
        "TESSARK IntAttribute ",
        "IntAttribute(attrdata, tupleSize=1)\n--\n\n"
        "32-bit integers in time samples, grouped in tuples of tupleSize. attrdata is one int, "
        "a sequence or a buffer of them (one sample at time 0), or a dict of time: such a "
        "sequence."));

}  // namespace Tessark::PyOvAttribute::v1
