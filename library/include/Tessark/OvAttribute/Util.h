// Free functions: time-sample clean-up and resampling, and the name delimiter codec.
#pragma once

#include <string>

#include "Tessark/OvAttribute/Attribute.h"
#include "Tessark/OvAttribute/DataAttribute.h"

namespace Tessark::internal::OvAttribute {

// Data with several samples whose values are all bit-for-bit equal becomes one sample at time
// 0; anything else comes back unchanged. Groups: every child, recursively.
OVATTR_API Attribute RemoveTimeSamplesIfAllSame(const Attribute& attribute);

// Keeps the samples inside [min(open, close), max(open, close)] and the nearest sample outside
// each end. A NaN bound changes nothing. Groups: every child, recursively.
OVATTR_API Attribute RemoveTimeSamplesUnneededForShutter(const Attribute& attribute,
                                                         float shutterOpen, float shutterClose);

// `attribute` sampled at the sample times of `times`: float and double values interpolated
// linearly between the bounding samples, integers and strings from the nearest sample, the end
// sample outside the range. Groups: recursively. `times` with no samples, or an attribute with
// none: `attribute` as it is.
OVATTR_API Attribute ResampleAttrWithInterp(const Attribute& attribute, const DataAttribute& times);

// Lets any text serve as one child name in normal builder mode: "%" becomes "%25", "." "%2E"
// and "/" "%2F". Decoding reverses exactly those three escapes (either case of hex digits) and
// leaves everything else as it is.
OVATTR_API std::string DelimiterEncode(const std::string& text);
OVATTR_API std::string DelimiterDecode(const std::string& text);

}  // namespace Tessark::internal::OvAttribute
