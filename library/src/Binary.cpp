// STUB: binary serialisation, to be replaced by the real implementation.

#include "Tessark/OvAttribute/Attribute.h"

namespace Tessark::internal::OvAttribute {

void Attribute::getBinary(std::vector<char>& out) const { out.clear(); }

Attribute Attribute::parseBinary(const void*, size_t) noexcept { return Attribute(); }

}  // namespace Tessark::internal::OvAttribute
