// Symbol export of the attribute library: everything not marked OVATTR_API stays hidden.
#pragma once

#if defined(__GNUC__) || defined(__clang__)
#define OVATTR_API __attribute__((visibility("default")))
#else
#define OVATTR_API
#endif
