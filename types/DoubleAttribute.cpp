// PyOvAttribute.DoubleAttribute: data attributes of 64-bit doubles. Construction and reads are
// the typed code of TypedAttribute.h, instantiated here for OvAttr::DoubleAttribute.

#include "types/TypedAttribute.h"

namespace Tessark::PyOvAttribute::v1 {

PyTypeObject PyDoubleAttribute_Type = DefineTypedAttributeType<OvAttr::DoubleAttribute>(
    "PyOvAttribute.DoubleAttribute",
    PYOVATTR_DOC("TESSARK DoubleAttribute ",
                 "DoubleAttribute(attrdata, tupleSize=1)\n--\n\n"
                 "Doubles in time samples, grouped in tuples of tupleSize. attrdata is one number, "
                 "a sequence or a buffer of them (one sample at time 0), or a dict of time: such a "
                 "sequence."));

}  // namespace Tessark::PyOvAttribute::v1
