// Free functions: time-sample clean-up, resampling and the name delimiter codec.

#include "Tessark/OvAttribute/Util.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include "AttributeData.h"

namespace Tessark::internal::OvAttribute {

namespace {

using detail::AttributeData;
using detail::GroupChild;
using detail::rowOf;
using detail::Storage;

// Calls change(KindTag<T>{}, data) for every data block of a tree, T being the block's element
// type, and rebuilds only the groups under which something changed; unchanged subtrees are
// shared, not copied. `change` returns the new value, or an invalid handle to keep the block.
template <typename Change>
Attribute transformTree(const Attribute& root, Change change) {
  auto leaf = [&change](AttributeData* data) {
    return detail::visitDataKind(static_cast<int>(data->storage), Attribute(),
                                 [&](auto tag) { return change(tag, data); });
  };
  if (!root.isValid()) return root;
  if (root._data()->storage != Storage::kGroup) {
    Attribute changed = leaf(root._data());
    return changed.isValid() ? changed : root;
  }
  // Per group walked into: the new values of its children so far (invalid: unchanged).
  std::vector<std::vector<Attribute>> frames(1);
  Attribute result = root;
  detail::walkGroups(
      root._data(),
      [&](const GroupChild& child, size_t) {
        if (child.attribute->storage == Storage::kGroup) {
          frames.emplace_back();
          return true;
        }
        frames.back().push_back(leaf(child.attribute));
        return false;
      },
      [&](AttributeData* group, size_t) {
        const std::vector<Attribute>& changed = frames.back();
        Attribute rebuilt;
        if (std::any_of(changed.begin(), changed.end(), [](auto& a) { return a.isValid(); })) {
          const GroupChild* children = detail::groupChildren(group);
          detail::GroupBlockWriter writer(changed.size(), group->stringBytes, group->groupInherit);
          for (size_t i = 0; i < changed.size(); ++i) {
            const std::string_view name = detail::childName(children[i]);
            writer.add(name, detail::nameIndexHash(name),
                       changed[i].isValid() ? changed[i]._data() : children[i].attribute);
          }
          rebuilt = Attribute(writer.finish());
        }
        frames.pop_back();
        if (frames.empty())
          result = rebuilt.isValid() ? std::move(rebuilt) : root;
        else
          frames.back().push_back(std::move(rebuilt));
      });
  return result;
}

template <typename T>
bool sameRow(const T* a, const T* b, int64_t count) {
  if constexpr (detail::kIsString<T>) {
    for (int64_t i = 0; i < count; ++i)
      if (std::strcmp(a[i], b[i]) != 0) return false;
    return true;
  } else {
    return count == 0 || std::memcmp(a, b, sizeof(T) * count) == 0;  // bit for bit
  }
}

template <typename T>
Attribute keepSamples(const AttributeData* data, int64_t begin, int64_t end) {
  std::vector<const T*> rows;
  rows.reserve(static_cast<size_t>(end - begin));
  for (int64_t i = begin; i < end; ++i) rows.push_back(rowOf<T>(data, i));
  return Attribute(detail::newTypedData<T>(data->times + begin, end - begin, rows.data(),
                                           data->valueCount, data->tupleSize));
}

}  // namespace

Attribute RemoveTimeSamplesIfAllSame(const Attribute& attribute) {
  return transformTree(attribute, [](auto tag, const AttributeData* data) -> Attribute {
    using T = typename decltype(tag)::type;
    if (data->sampleCount < 2) return {};
    const T* first = rowOf<T>(data, 0);
    for (int64_t i = 1; i < data->sampleCount; ++i)
      if (!sameRow(first, rowOf<T>(data, i), data->valueCount)) return {};
    const float time = 0.0f;
    return Attribute(detail::newTypedData<T>(&time, 1, &first, data->valueCount, data->tupleSize));
  });
}

Attribute RemoveTimeSamplesUnneededForShutter(const Attribute& attribute, float shutterOpen,
                                              float shutterClose) {
  if (std::isnan(shutterOpen) || std::isnan(shutterClose)) return attribute;
  const float lo = std::min(shutterOpen, shutterClose);
  const float hi = std::max(shutterOpen, shutterClose);
  return transformTree(attribute, [lo, hi](auto tag, const AttributeData* data) -> Attribute {
    using T = typename decltype(tag)::type;
    const int64_t count = data->sampleCount;
    if (count == 0) return {};
    const float* times = data->times;
    // The first sample at or after `lo`, less one for the nearest before it; the first after
    // `hi` is the nearest beyond the end and the last kept.
    int64_t begin = std::lower_bound(times, times + count, lo) - times;
    if (begin > 0) --begin;
    int64_t end = std::upper_bound(times, times + count, hi) - times;
    if (end < count) ++end;
    if (begin == 0 && end == count) return {};
    return keepSamples<T>(data, begin, end);
  });
}

Attribute ResampleAttrWithInterp(const Attribute& attribute, const DataAttribute& times) {
  const int64_t targetCount = times.getNumberOfTimeSamples();
  if (targetCount <= 0) return attribute;
  const float* targets = times._data()->times;  // `times` keeps them alive

  return transformTree(attribute, [&](auto tag, const AttributeData* data) -> Attribute {
    using T = typename decltype(tag)::type;
    if (data->sampleCount <= 0) return {};
    const int64_t valueCount = data->valueCount;
    std::vector<const T*> rows(static_cast<size_t>(targetCount));
    std::vector<T> blended;  // interpolated rows of floats and doubles
    if constexpr (std::is_floating_point_v<T>) {
      const float* sampleTimes = data->times;
      const int64_t count = data->sampleCount;
      for (int64_t k = 0; k < targetCount; ++k) {
        const float t = targets[k];
        const int64_t at = std::lower_bound(sampleTimes, sampleTimes + count, t) - sampleTimes;
        if (at == 0 || at == count || sampleTimes[at] == t) {
          rows[k] = rowOf<T>(data, detail::nearestSampleIndex(data, t));
          continue;
        }
        rows[k] = nullptr;  // filled below, once `blended` has stopped growing
        const double t0 = sampleTimes[at - 1];
        const double alpha = (static_cast<double>(t) - t0) / (sampleTimes[at] - t0);
        const T* a = rowOf<T>(data, at - 1);
        const T* b = rowOf<T>(data, at);
        for (int64_t j = 0; j < valueCount; ++j) {
          // Equal ends give that value exactly (infinities included).
          blended.push_back(a[j] == b[j] ? a[j] : static_cast<T>(a[j] + (b[j] - a[j]) * alpha));
        }
      }
      const T* cursor = blended.data();
      for (const T*& row : rows) {
        if (row) continue;
        row = cursor;
        cursor += valueCount;
      }
    } else {
      for (int64_t k = 0; k < targetCount; ++k)
        rows[k] = rowOf<T>(data, detail::nearestSampleIndex(data, targets[k]));
    }
    return Attribute(
        detail::newTypedData<T>(targets, targetCount, rows.data(), valueCount, data->tupleSize));
  });
}

namespace {

// The bytes that the delimiter codec escapes: each is written as '%', '2' and the upper-case
// digit, and read back from either case of it.
struct DelimiterEscape {
  char byte;
  char upper;
  char lower;
};
constexpr DelimiterEscape kDelimiterEscapes[] = {{'%', '5', '5'}, {'.', 'E', 'e'}, {'/', 'F', 'f'}};

template <typename Match>
const DelimiterEscape* findEscape(Match match) {
  for (const DelimiterEscape& escape : kDelimiterEscapes)
    if (match(escape)) return &escape;
  return nullptr;
}

}  // namespace

std::string DelimiterEncode(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (const DelimiterEscape* escape = findEscape([c](const auto& e) { return e.byte == c; })) {
      out += "%2";
      out += escape->upper;
    } else {
      out += c;
    }
  }
  return out;
}

std::string DelimiterDecode(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const bool percent2 = text[i] == '%' && i + 2 < text.size() && text[i + 1] == '2';
    const char digit = percent2 ? text[i + 2] : '\0';  // no escape's digit
    if (const DelimiterEscape* escape =
            findEscape([digit](const auto& e) { return digit == e.upper || digit == e.lower; })) {
      out += escape->byte;
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace Tessark::internal::OvAttribute
