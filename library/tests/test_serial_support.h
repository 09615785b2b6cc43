// Attributes that serialisation tests and seed-corpus generation share.
#pragma once

#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "Tessark/OvAttribute/OvAttribute.h"

namespace serialtest {

namespace ova = ::Tessark::internal::OvAttribute;

// How a test holds one value of element type T: strings as std::string, numbers as themselves.
template <typename T>
using Stored = std::conditional_t<std::is_same_v<T, const char*>, std::string, T>;

template <typename T>
using Samples = std::vector<std::vector<Stored<T>>>;

// A data attribute with the given times and samples (each sample must hold valueCount values).
template <typename T>
ova::TypedDataAttribute<T> makeData(const std::vector<float>& times, const Samples<T>& samples,
                                    int64_t valueCount, int64_t tupleSize) {
  std::vector<std::vector<T>> rows(samples.size());
  std::vector<const T*> pointers;
  for (size_t i = 0; i < samples.size(); ++i) {
    for (const auto& v : samples[i]) {
      if constexpr (std::is_same_v<T, const char*>) {
        rows[i].push_back(v.c_str());
      } else {
        rows[i].push_back(v);
      }
    }
    pointers.push_back(rows[i].data());
  }
  return ova::TypedDataAttribute<T>(times.data(), static_cast<int64_t>(times.size()),
                                    pointers.data(), valueCount, tupleSize);
}

// The i-th of a run of distinct, unremarkable values of T.
template <typename T>
Stored<T> plainValue(int i) {
  if constexpr (std::is_same_v<T, const char*>) {
    return "value " + std::to_string(i);
  } else if constexpr (std::is_integral_v<T>) {
    return static_cast<T>(i * 7919 - 40000);
  } else {
    return static_cast<T>(i) * static_cast<T>(0.37) - static_cast<T>(11.5);
  }
}

template <typename T>
Samples<T> plainSamples(size_t samples, size_t values) {
  Samples<T> out(samples);
  for (size_t i = 0; i < samples; ++i)
    for (size_t k = 0; k < values; ++k)
      out[i].push_back(plainValue<T>(static_cast<int>(i * 100 + k)));
  return out;
}

// Strings that XML cannot carry as they are: markup characters, quotes, every control byte,
// bytes of invalid UTF-8 and characters that XML 1.0 forbids.
inline std::vector<std::string> awkwardStrings() {
  std::string everyByte;
  for (int c = 1; c < 256; ++c) everyByte += static_cast<char>(c);
  return {
      "",
      " ",
      "   ",
      "  leading and trailing  ",
      "quote \" apostrophe ' lt < gt > amp & percent % semicolon ;",
      "&amp; &lt; &#65; <![CDATA[x]]> ]]> <!-- c -->",
      "line\nfeed\r\ncarriage\rtab\t",
      "%41 %% %zz %",
      "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80",         // valid UTF-8 stays readable
      "\xff\xfe\x80 \xc3 \xe2\x82 \xc0\xaf \xed\xa0\x80",  // invalid UTF-8
      "\xef\xbf\xbe\xef\xbf\xbf",                          // U+FFFE, U+FFFF
      "\x01\x02\x1f\x7f",
      everyByte,
  };
}

// Group names: dots are plain bytes in strict mode; any byte but NUL may stand in a name.
inline std::vector<std::string> awkwardNames() {
  return {"a",          "a.b",           ".",
          "..x..",      "soh\x01inside", std::string(1, '\x7f'),
          "space name", "\"<&>%",        "tab\tnewline\n",
          "\xff\x80",   "caf\xc3\xa9",   "%2E"};
}

// A group nested `depth` levels (the outermost is level 1), the innermost holding one integer.
inline ova::Attribute deepGroup(size_t depth) {
  ova::Attribute inner = ova::IntAttribute(7);
  for (size_t level = depth; level > 0; --level) {
    ova::GroupBuilder b(ova::GroupBuilder::BuilderModeStrict);
    b.set("child", inner);
    if (level % 3 == 0) b.setGroupInherit(false);
    inner = b.build();
  }
  return inner;
}

// A group of `count` small children of mixed kinds.
inline ova::Attribute wideGroup(size_t count) {
  ova::GroupBuilder b(ova::GroupBuilder::BuilderModeStrict);
  b.reserve(static_cast<int64_t>(count));
  for (size_t i = 0; i < count; ++i) {
    std::string name = "child" + std::to_string(i);
    switch (i % 4) {
      case 0:
        b.set(name, ova::IntAttribute(static_cast<int32_t>(i)));
        break;
      case 1:
        b.set(name, ova::FloatAttribute(static_cast<float>(i) * 0.5f));
        break;
      case 2:
        b.set(name, ova::StringAttribute(name));
        break;
      default: {
        const double xyz[3] = {1.0 * static_cast<double>(i), 2.0, -3.25};
        b.set(name, ova::DoubleAttribute(xyz, 3, 3));
      }
    }
  }
  return b.build();
}

// One attribute of every kind and shape that the formats must carry, with a label for
// messages and for corpus file names.
inline std::vector<std::pair<std::string, ova::Attribute>> catalogue() {
  std::vector<std::pair<std::string, ova::Attribute>> out;
  out.emplace_back("null", ova::NullAttribute());
  out.emplace_back("int", ova::IntAttribute(42));
  out.emplace_back("float", ova::FloatAttribute(0.1f));
  out.emplace_back("double", ova::DoubleAttribute(-2.5e-300));
  out.emplace_back("string", ova::StringAttribute("hello"));
  out.emplace_back("float_samples",
                   makeData<float>({0.0f, 0.25f, 1.0f}, plainSamples<float>(3, 7), 7, 3));
  out.emplace_back("int_tuple0", makeData<int32_t>({-1.0f}, plainSamples<int32_t>(1, 5), 5, 0));
  out.emplace_back("double_negative_tuple",
                   makeData<double>({2.0f, 3.0f}, plainSamples<double>(2, 4), 4, -2));
  out.emplace_back("empty_values", makeData<float>({0.0f, 1.0f}, plainSamples<float>(2, 0), 0, 1));
  out.emplace_back("zero_samples", makeData<int32_t>({}, {}, 4, 2));
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  out.emplace_back("float_specials",
                   makeData<float>({-inf, -0.0f, 1e-45f, inf},
                                   {{nan, -nan, inf, -inf, -0.0f, 1e-45f},
                                    {std::numeric_limits<float>::max(), 1.0f, 0, 0, 0, 0},
                                    {0, 0, 0, 0, 0, 0},
                                    {1, 2, 3, 4, 5, 6}},
                                   6, 2));
  std::vector<std::string> strings = awkwardStrings();
  out.emplace_back(
      "awkward_strings",
      makeData<const char*>({0.0f}, {strings}, static_cast<int64_t>(strings.size()), 1));
  ova::GroupBuilder names(ova::GroupBuilder::BuilderModeStrict);
  for (const std::string& name : awkwardNames())
    names.set(name, ova::StringAttribute(name.c_str()));
  names.setGroupInherit(false);
  out.emplace_back("awkward_names", names.build());
  out.emplace_back("empty_group", ova::GroupBuilder().build());
  out.emplace_back("nested_50", deepGroup(50));
  out.emplace_back("wide_20", wideGroup(20));
  return out;
}

inline ova::Attribute catalogueEntry(const std::string& label) {
  for (auto& [name, attribute] : catalogue())
    if (name == label) return attribute;
  return {};
}

}  // namespace serialtest
