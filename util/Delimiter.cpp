// STUB: placeholder, to be replaced.

#include "module/Internal.h"

namespace Tessark::PyOvAttribute::v1 {

PyMethodDef kModuleMethods[] = {
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace Tessark::PyOvAttribute::v1
