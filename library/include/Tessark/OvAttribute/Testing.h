// Hooks for tests of code built on the library. Not for production use.
#pragma once

#include "Tessark/OvAttribute/Attribute.h"

namespace Tessark::internal::OvAttribute::testing {

// A valid handle to a value whose getType() answers `typeTag` unchecked, so that callers can
// test how they treat tags they do not know. Hash, XML and binary treat it as a null value.
OVATTR_API Attribute MakeAttributeWithTypeTag(int typeTag);

}  // namespace Tessark::internal::OvAttribute::testing
