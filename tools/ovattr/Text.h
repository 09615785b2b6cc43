// How ovattr writes values, names and paths for people: numbers as the XML form spells them,
// strings quoted with C escapes, names with %XX for what a terminal or a path cannot show.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Tessark/OvAttribute/Attribute.h"

namespace ovattr {

namespace OvAttr = ::Tessark::internal::OvAttribute;

// "int", "float", ... for the library's kind tags; "kind N" for a tag it does not name.
std::string kindName(int type);

// Numbers: the shortest text that reads back to the same value; inf, -inf, nan, -nan for the
// infinities and the default quiet NaN, nan:0x<bits> for any other NaN.
void appendValue(std::string& out, int32_t value);
void appendValue(std::string& out, float value);
void appendValue(std::string& out, double value);
// A string in double quotes: \" \\ \n \t \r, \xNN for other control bytes and for bytes that
// are not UTF-8; at most `maxBytes` bytes of it, then how many more there are.
void appendValue(std::string& out, std::string_view value, size_t maxBytes = SIZE_MAX);

// A child name as one path component: %XX for '%', '/', control bytes and bytes that are not
// UTF-8.
std::string escapeName(std::string_view name);

// A path of escaped components: "/" for the root, "/a/b" below it. Very deep paths keep their
// first and last components and say how many are left out between them.
std::string joinPath(const std::vector<std::string>& components);

// "1 sample", "2 samples"; "1 child", "2 children" with the plural given.
std::string plural(int64_t count, const char* noun, const char* nouns = nullptr);

// A message on one line: control bytes escaped, and cut short past a few hundred bytes.
std::string oneLine(std::string_view message);

}  // namespace ovattr
