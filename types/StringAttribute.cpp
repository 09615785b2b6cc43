// PyOvAttribute.StringAttribute: data attributes of strings, each ending at its first NUL.
// Construction and reads are the typed code of TypedAttribute.h, instantiated here for
// OvAttr::StringAttribute.

#include "types/TypedAttribute.h"

namespace Tessark::PyOvAttribute::v1 {

PyTypeObject PyStringAttribute_Type = DefineTypedAttributeType<OvAttr::StringAttribute>(
    "PyOvAttribute.StringAttribute",
    PYOVATTR_DOC(
        "TESSARK StringAttribute ",
        "StringAttribute(attrdata, tupleSize=1)\n--\n\n"
        "Strings in time samples, grouped in tuples of tupleSize. attrdata is one str or bytes, "
        "a sequence of them (one sample at time 0), or a dict of time: such a sequence."));

}  // namespace Tessark::PyOvAttribute::v1
