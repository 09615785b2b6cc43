// STUB: XML serialisation, to be replaced by the real implementation.

#include "Tessark/OvAttribute/Attribute.h"

namespace Tessark::internal::OvAttribute {

std::string Attribute::getXML() const { return {}; }

Attribute Attribute::parseXML(Platform::StringView) { throw XmlParseError("XML is not supported yet"); }

}  // namespace Tessark::internal::OvAttribute
